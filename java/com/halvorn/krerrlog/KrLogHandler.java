// A java.util.logging handler that sends records to the native loggers, so
// Java code that logs through java.util.logging writes into the same files.
package com.halvorn.krerrlog;

import java.util.logging.ErrorManager;
import java.util.logging.Formatter;
import java.util.logging.Handler;
import java.util.logging.Level;
import java.util.logging.LogManager;
import java.util.logging.LogRecord;
import java.util.logging.SimpleFormatter;

/**
 * Sends {@link LogRecord}s to a native logger through {@link KrLogger}.
 *
 * <p>Levels: SEVERE becomes an error line (message id {@link #SEVERE_ID}),
 * WARNING a warning line ({@link #WARNING_ID}), INFO and CONFIG an information
 * line ({@link #INFO_ID}); the message ids belong to the library's own component,
 * whose text is the argument itself. FINE, FINER and FINEST become trace lines
 * under the handler's trace id (by default {@link #DEFAULT_TRACE_ID}, the
 * library's own component "Log"), written when the logger's trace
 * configuration (or its in-memory trace) selects that component; the text is
 * traced literally. The source class names the source
 * file, the source method the traced function; a thrown exception is appended
 * to the text.
 *
 * <p>Configuration through the LogManager (all optional), with
 * {@code com.halvorn.krerrlog.KrLogHandler} as prefix: {@code .loggerName}
 * (the native logger; empty: the process-wide one), {@code .traceId} (decimal
 * or 0x hexadecimal), {@code .level} (default ALL).
 */
public class KrLogHandler extends Handler {
    /** Message ids of the library's own component: component 1, severity, message 1. */
    public static final int SEVERE_ID = 0x0100C001;
    public static final int WARNING_ID = 0x01008001;
    public static final int INFO_ID = 0x01004001;
    /** The library's own component "Log". */
    public static final int DEFAULT_TRACE_ID = 0x01000000;

    private final String loggerName;
    private final int traceId;

    /** A handler configured from the LogManager's properties. */
    public KrLogHandler() {
        LogManager manager = LogManager.getLogManager();
        String prefix = KrLogHandler.class.getName();
        String name = manager.getProperty(prefix + ".loggerName");
        this.loggerName = name == null ? "" : name.trim();
        this.traceId = parseId(manager.getProperty(prefix + ".traceId"), DEFAULT_TRACE_ID);
        setLevel(parseLevel(manager.getProperty(prefix + ".level")));
        setFormatter(new SimpleFormatter());
    }

    /** A handler for the named native logger (null or empty: the process-wide one). */
    public KrLogHandler(String loggerName, int traceId) {
        this.loggerName = loggerName == null ? "" : loggerName;
        this.traceId = traceId;
        setLevel(Level.ALL);
        setFormatter(new SimpleFormatter());
    }

    @Override
    public void publish(LogRecord record) {
        if (record == null || !isLoggable(record)) {
            return;
        }
        try {
            String text = textOf(record);
            String source = record.getSourceClassName() != null ? record.getSourceClassName() : record.getLoggerName();
            int level = record.getLevel().intValue();
            if (level >= Level.CONFIG.intValue()) {
                KrLogger.LogMsg(loggerName, source, messageIdOf(level), text);
            } else {
                KrLogger.TraceMsg(loggerName, source, record.getSourceMethodName(), traceId, null, text);
            }
        } catch (RuntimeException | LinkageError e) {
            reportError(null, e instanceof Exception ? (Exception) e : new RuntimeException(e), ErrorManager.WRITE_FAILURE);
        }
    }

    /** The message id a record of this level is logged with (CONFIG and above). */
    static int messageIdOf(int level) {
        if (level >= Level.SEVERE.intValue()) {
            return SEVERE_ID;
        }
        return level >= Level.WARNING.intValue() ? WARNING_ID : INFO_ID;
    }

    private String textOf(LogRecord record) {
        Formatter formatter = getFormatter();
        String text = formatter != null ? formatter.formatMessage(record) : record.getMessage();
        Throwable thrown = record.getThrown();
        return thrown == null ? text : text + " " + thrown;
    }

    /** Nothing is buffered here: the native outputs write each line when it is logged. */
    @Override
    public void flush() {
    }

    @Override
    public void close() {
        setLevel(Level.OFF);
    }

    private static int parseId(String value, int fallback) {
        if (value == null || value.trim().isEmpty()) {
            return fallback;
        }
        String v = value.trim();
        try {
            return v.startsWith("0x") || v.startsWith("0X") ? (int) Long.parseLong(v.substring(2), 16)
                                                            : Integer.parseInt(v);
        } catch (NumberFormatException e) {
            return fallback;
        }
    }

    private static Level parseLevel(String value) {
        if (value == null || value.trim().isEmpty()) {
            return Level.ALL;
        }
        try {
            return Level.parse(value.trim());
        } catch (IllegalArgumentException e) {
            return Level.ALL;
        }
    }
}
