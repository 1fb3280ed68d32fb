// Message bundles by locale, and placeholder substitution.
//
// A bundle is a Java-style ".properties" file in the resource directory, named
// <bundle>_<locale>.properties. GetBundle("X", "de_DE") reads X_de_DE, then X_de,
// then X.properties, the first that exists. Bundles are read once and cached
// (also the absence of a file), so a lookup reads no file after the first.
#pragma once

#include <cstddef>

class CKrXlate {
public:
    // The bundle for a locale, or null when no file of the chain exists.
    // Every bundle returned is given back with Release once its text is used.
    static CKrXlate* GetBundle(const char* bundleName, const char* locale);

    // Writes text into out (at most outSize bytes, NUL included) with every
    // "{n}" (n a decimal index below argc) replaced by argv[n]; other braces
    // are copied as they stand. A null argument is written as empty text.
    static void FormatMessageA(char* out, unsigned long outSize, const char* text, size_t argc, const char** argv);

    // Sets the folder of the bundle files; later GetBundle calls read from it.
    // False (nothing changed) for a null or empty name or a path that is not a folder.
    static bool SetResourceDirectory(const char* directory);

    // The bundle's text for key, or null when the key is not in the bundle.
    virtual const char* GetText(const char* key) const = 0;
    // Gives back a bundle returned by GetBundle.
    virtual void Release() = 0;

protected:
    CKrXlate() = default;
    virtual ~CKrXlate() = default;
};
