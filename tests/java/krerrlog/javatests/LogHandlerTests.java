// The java.util.logging handler end to end: levels to error lines of the
// right severity or to trace lines, parameters and exceptions in the text,
// and the handler configured through the LogManager alone.
package krerrlog.javatests;

import com.halvorn.krerrlog.KrLogHandler;
import com.halvorn.krerrlog.KrLogger;

import java.io.ByteArrayInputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.List;
import java.util.logging.Level;
import java.util.logging.LogManager;
import java.util.logging.Logger;

public final class LogHandlerTests {
    private LogHandlerTests() {
    }

    public static void main(String[] args) throws Exception {
        Check.watchdog(120);
        Path dir = Check.folder(Path.of(args[0]), "handler");
        levels(dir);
        configuredByLogManager(dir);
        Check.finish("LogHandlerTests");
    }

    static void levels(Path dir) {
        Check.scope("levels");
        Path errors = dir.resolve("jul.log");
        Path trace = dir.resolve("jul-trace.log");
        KrLogger.InitializeLog("JavaJul", KrLogger.OUTPUT_FILE, errors.toString(), 1, 0, false, 0, false);
        Check.equal(1, KrLogger.InitializeTrace("JavaJul", KrLogger.OUTPUT_FILE, trace.toString(), 1, 0,
                                                KrLogger.FORMAT_DELIMITED, "|",
                                                TraceTests.config(dir, "jul.conf", "Log").toString(), false, 0, false),
                    "InitializeTrace");
        Logger logger = Logger.getLogger("krerrlog.javatests.levels");
        logger.setUseParentHandlers(false);
        logger.setLevel(Level.ALL);
        KrLogHandler handler = new KrLogHandler("JavaJul", KrLogHandler.DEFAULT_TRACE_ID);
        handler.setLevel(Level.FINER);
        logger.addHandler(handler);

        logger.log(Level.SEVERE, "disk {0} full", "/var");
        logger.warning("slow 100% {1}");
        logger.info("started");
        logger.config("configured");
        logger.log(Level.WARNING, "failed", new IllegalStateException("boom"));
        logger.fine("fine-line");
        logger.finer("finer-line");
        logger.finest("finest-line");  // below the handler's level

        String[][] want = {
            {"ERROR", "disk /var full"},
            {"WARNING", "slow 100% {1}"},
            {"INFO", "started"},
            {"INFO", "configured"},
            {"WARNING", "failed java.lang.IllegalStateException: boom"},
        };
        List<String> lines = Check.lines(errors);
        Check.equal(want.length, lines.size(), "error lines");
        for (int i = 0; i < want.length && i < lines.size(); i++) {
            var m = ErrorLogTests.parse(lines.get(i));
            Check.equal(want[i][0], m.group(6), "severity of " + want[i][1]);
            Check.equal(want[i][1], m.group(8), "text");
            Check.equal("krerrlog.javatests.LogHandlerTests", m.group(4), "source class in the file group");
        }
        List<String[]> rows = TraceTests.rows(trace);
        Check.equal(2, rows.size(), "trace lines: FINE and FINER");
        if (rows.size() == 2) {
            Check.equal("fine-line", rows.get(0)[3], "FINE message");
            Check.equal("levels", rows.get(0)[1], "source method as the function");
            Check.equal("finer-line", rows.get(1)[3], "FINER message");
        }
        handler.close();
        logger.severe("after close");
        Check.equal(want.length, Check.lines(errors).size(), "a closed handler sends nothing");
    }

    static void configuredByLogManager(Path dir) throws Exception {
        Check.scope("LogManager configuration");
        Path errors = dir.resolve("configured.log");
        KrLogger.InitializeLog("JavaConfigured", KrLogger.OUTPUT_FILE, errors.toString(), 1, 0, false, 0, false);
        String properties = "handlers=com.halvorn.krerrlog.KrLogHandler\n"
            + ".level=INFO\n"
            + "com.halvorn.krerrlog.KrLogHandler.loggerName=JavaConfigured\n"
            + "com.halvorn.krerrlog.KrLogHandler.level=WARNING\n";
        LogManager.getLogManager().readConfiguration(
            new ByteArrayInputStream(properties.getBytes(StandardCharsets.ISO_8859_1)));
        Logger app = Logger.getLogger("some.application.Class");
        app.warning("from unchanged code");
        app.info("below the handler's level");
        List<String> lines = Check.lines(errors);
        Check.equal(1, lines.size(), "lines through the configured root handler");
        if (lines.size() == 1) {
            Check.equal("from unchanged code", ErrorLogTests.parse(lines.get(0)).group(8), "text");
        }
    }
}
