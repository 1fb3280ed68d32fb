// The native methods of libkrerrlog for Java components: error lines and trace
// lines into the same loggers that native code of the process uses.
package com.halvorn.krerrlog;

/**
 * Entry points into the native logging library. Every method takes a logger
 * name first: a non-empty name selects (and on first use creates) a named
 * logger, a null or empty name the process-wide logger. Null strings stand for
 * empty texts. The methods are static and may be called from any thread.
 *
 * <p>The class loads the library when it is first used: the file named by the
 * system property {@code krerrlog.library} if that is set (an absolute path,
 * given to {@link System#load}), otherwise {@code System.loadLibrary("krerrlog")},
 * which searches {@code java.library.path}.
 */
public final class KrLogger {
    /** System property naming the library file to load instead of the default search. */
    public static final String LIBRARY_PROPERTY = "krerrlog.library";

    /** At most this many argument strings reach a message; more are refused with a warning trace. */
    public static final int MAX_ARGUMENTS = 5;

    /** Output types of {@link #InitializeLog} and {@link #InitializeTrace}. */
    public static final int OUTPUT_CONSOLE = 0;
    public static final int OUTPUT_FILE = 1;

    /** File modes: 1 append, 2 roll the existing file over when opening, 3 append and roll over by size. */
    public static final int MODE_APPEND = 1;
    public static final int MODE_NEW_FILE = 2;
    public static final int MODE_ROLLOVER = 3;

    /** Trace formats: bracketed fields, fixed-width columns, delimited, XML-like elements. */
    public static final int FORMAT_BRACKETS = 0;
    public static final int FORMAT_COLUMNS = 1;
    public static final int FORMAT_DELIMITED = 2;
    public static final int FORMAT_ELEMENTS = 3;

    static {
        String file = System.getProperty(LIBRARY_PROPERTY);
        if (file != null && !file.isEmpty()) {
            System.load(file);
        } else {
            System.loadLibrary("krerrlog");
        }
    }

    private KrLogger() {
    }

    /**
     * Attaches the error-log output: a console (output type 0, the file arguments
     * ignored) or a file. True flags switch the logger's local time and tag on;
     * false flags leave them as they are.
     *
     * @return 1 done, 0 output refused, -1 no logger
     */
    public static native int InitializeLog(String loggerName, int outputType, String fileName, int fileMode,
            int rolloverSizeMB, boolean useLocalTime, int backupCount, boolean enableTag);

    /** Folder of the message bundles. @return 1 done, 0 not done (also for a null or empty folder) */
    public static native int SetResourcesDirectory(String directory);

    /**
     * Starts tracing into a console or a file with a trace configuration file.
     * A null delimiter is passed as null, an empty one as empty.
     *
     * @return 1 tracing enabled, 0 not (also for a null or empty configuration file)
     */
    public static native int InitializeTrace(String loggerName, int outputType, String fileName, int fileMode,
            int rolloverSizeMB, int traceFormat, String delimiter, String traceConfigFile, boolean useLocalTime,
            int backupCount, boolean enableTag);

    /** Logs message id with one argument (null is empty). @return always 1 */
    public static native int LogMsg(String loggerName, String sourceFile, int messageId, String argument);

    /**
     * Logs message id with up to five arguments (null elements are empty). A null or
     * empty array logs nothing; more than five log nothing and trace a warning.
     *
     * @return always 1
     */
    public static native int LogMsg(String loggerName, String sourceFile, int messageId, String[] arguments);

    /** Traces message (taken literally) under traceId when the logger selects it. @return always 1 */
    public static native int TraceMsg(String loggerName, String sourceFile, String function, int traceId,
            String transactionId, String message);

    /**
     * Traces message as a format filled with up to five arguments. A null or empty
     * array traces message literally; more than five trace only a warning.
     *
     * @return always 1
     */
    public static native int TraceMsg(String loggerName, String sourceFile, String function, int traceId,
            String transactionId, String message, String[] arguments);

    /** Whether the logger traces at all. */
    public static native boolean TraceEnabled(String loggerName);

    /** Whether the logger traces the component (component id: bits 24-31 component, 16-23 sub-component). */
    public static native boolean TraceEnabledComponent(String loggerName, int component);
}
