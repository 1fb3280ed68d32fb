// Message bundles by locale, and placeholder substitution.
//
// A bundle is a Java-style ".properties" file (see KrPropertiesFile.h) in the
// resource directory, named <bundle>_<locale>.properties. GetBundle("X", "de_DE")
// gives the first of X_de_DE, X_de and X.properties that exists; a key missing
// from it is looked up in the files after it in that chain. Locale names are
// taken as bundle files name them ("de_DE.UTF-8", "de-DE" and "de_DE@euro" all
// mean de_DE). Bundles are read once and cached (also the absence of a file),
// so a lookup after the first reads no file, allocates nothing and takes only
// the reader side of a lock. Bundles are never freed: a bundle handed out stays valid for
// the life of the process, also after the resource directory changed.
// The resource directory is, until set, the folder that holds this library.
#pragma once

#include <krerrlog/KrExport.h>

#include <cstddef>

// Exported so that hosts can name the folder of their bundles and look texts up.
class KRERRLOG_API CKrXlate {
public:
    // The bundle for a locale, or null when no file of the chain exists or the
    // bundle name is not a plain file name (empty, or holding a '/').
    // Every bundle returned is given back with Release once its text is used.
    static CKrXlate* GetBundle(const char* bundleName, const char* locale);

    // Writes text into out (at most outSize bytes, NUL included) with every
    // "{n}" (n a decimal index below argc) replaced by argv[n]; other braces
    // (an index out of range, "{x}", "{1" ...) are copied as they stand, and
    // quotes have no special meaning. A null argument is written as empty text,
    // a null argv counts as no arguments, a null text as "". A text cut to fit ends before a partial
    // UTF-8 character. Always NUL-terminated when outSize > 0.
    static void FormatMessageA(char* out, unsigned long outSize, const char* text, size_t argc, const char** argv);

    // Sets the folder of the bundle files; later GetBundle calls read from it
    // (setting a folder again reads its files again).
    // False (nothing changed) for a null or empty name or a path that is not a folder.
    static bool SetResourceDirectory(const char* directory);

    // The bundle's text for key, or null when the key is not in the bundle.
    virtual const char* GetText(const char* key) const = 0;
    // Gives back a bundle returned by GetBundle (bundles stay cached: it frees nothing).
    virtual void Release() = 0;

protected:
    CKrXlate() = default;
    virtual ~CKrXlate() = default;
};
