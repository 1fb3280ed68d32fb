// Error lines written from Java: the prolog and tags, the catalogue texts with
// their argument slots, named loggers apart from the process-wide one, and
// every kind of bad input a Java caller can hand over.
package krerrlog.javatests;

import com.halvorn.krerrlog.KrLogger;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.time.LocalDateTime;
import java.time.ZoneOffset;
import java.time.format.DateTimeFormatter;
import java.time.temporal.ChronoUnit;
import java.util.List;
import java.util.Locale;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

public final class ErrorLogTests {
    // Component 2 (the test component): message 1 has one slot, message 9 five.
    static final int STARTED = 0x02004001;
    static final int MANY = 0x0200C009;
    // The library's own component: its text is the first argument.
    static final int OWN_ERROR = 0x0100C001;

    // [pid/tid][Www Mmm dd yyyy hh:mm:ss.mmm][file] tags [SEVERITY][key] text
    static final Pattern LINE = Pattern.compile(
        "\\[(\\d+)/(\\d+)\\]\\[(\\w{3} \\w{3} \\d{2} \\d{4} \\d{2}:\\d{2}:\\d{2})\\.\\d{3}\\]\\[([^\\]]*)\\]"
        + "((?:\\[[A-Z]+LOG\\])*)\\[(INFO|WARNING|ERROR)\\]\\[([^\\]]*)\\] (.*)");

    private ErrorLogTests() {
    }

    public static void main(String[] args) {
        Check.watchdog(120);
        run(Path.of(args[0]));
        Check.finish("ErrorLogTests");
    }

    static void run(Path work) {
        Path dir = Check.folder(work, "errors");
        resourcesDirectory();
        linesAndPrologs(dir);
        argumentSlots(dir);
        outputsAndSwitches(dir);
    }

    static void resourcesDirectory() {
        Check.scope("SetResourcesDirectory");
        Check.equal(0, KrLogger.SetResourcesDirectory(null), "null folder");
        Check.equal(0, KrLogger.SetResourcesDirectory(""), "empty folder");
        Check.equal(1, KrLogger.SetResourcesDirectory(System.getProperty("krerrlog.bundles")), "the tests' bundles");
    }

    static Matcher parse(String line) {
        Matcher m = LINE.matcher(line);
        Check.that(m.matches(), "error line layout: " + line);
        return m;
    }

    /** The single line of file that carries marker, parsed. */
    static Matcher only(Path file, String marker) {
        List<String> found = Check.linesWith(file, marker);
        Check.equal(1, found.size(), "lines with " + marker + " in " + file.getFileName());
        return parse(found.isEmpty() ? "" : found.get(0));
    }

    static void linesAndPrologs(Path dir) {
        Check.scope("lines and prologs");
        Path named = dir.resolve("named.log");
        Path zdl = dir.resolve("zdl.log");
        Check.equal(1, KrLogger.InitializeLog("JavaErrors", KrLogger.OUTPUT_FILE, named.toString(),
                                              KrLogger.MODE_APPEND, 0, false, 0, false), "InitializeLog named");
        Check.equal(1, KrLogger.InitializeLog("ZDLLogger", KrLogger.OUTPUT_FILE, zdl.toString(),
                                              KrLogger.MODE_APPEND, 0, false, 0, false), "InitializeLog ZDLLogger");
        try {
            Check.equal("rw-------", PosixFilePermissions.toString(Files.getPosixFilePermissions(named)),
                        "log file permissions");
        } catch (java.io.IOException e) {
            Check.that(false, "log file exists: " + e);
        }

        Check.equal(1, KrLogger.LogMsg("JavaErrors", "src/com/acme/Server.java", STARTED, "alpha"), "LogMsg result");
        Check.equal(1, KrLogger.LogMsg("ZDLLogger", "Zdl.java", OWN_ERROR, "zdl-line"), "LogMsg result");
        Matcher m = only(named, "alpha");
        Check.equal(String.valueOf(ProcessHandle.current().pid()), m.group(1), "process id");
        Check.equal("Server.java", m.group(4), "file group: the base name, no line number");
        Check.equal("[AGENTLOG]", m.group(5), "tag of a named logger with EnableTag=true");
        Check.equal("INFO", m.group(6), "severity of 0x02004001");
        Check.equal("krtest-started", m.group(7), "message key");
        Check.equal("Java component alpha started", m.group(8), "text from the tests' bundle");
        m = only(zdl, "zdl-line");
        Check.equal("[ZDLSERVICELOG]", m.group(5), "tag of the logger named ZDLLogger");
        Check.equal("ERROR", m.group(6), "severity");
        Check.equal("kr-log-00000", m.group(7), "key of the library's own component");
        Check.equal(0, Check.linesWith(zdl, "alpha").size(), "named loggers keep separate files");

        // Text bytes pass through unchanged: modified UTF-8, one byte per char here.
        String[][] texts = {
            {"ascii", "plain text"},
            {"latin and cyrillic", "Grüße, Привет"},
            {"outside the BMP (surrogate pairs)", "clef \uD834\uDD1E and \uD83D\uDE00"},
            {"NUL inside", "a\u0000b"},
            {"percent and braces", "100% {0} %s %d"},
        };
        for (String[] row : texts) {
            KrLogger.LogMsg("JavaErrors", "Texts.java", OWN_ERROR, "T:" + row[1]);
            Check.equal(Check.asWritten("T:" + row[1]), only(named, Check.asWritten("T:" + row[1])).group(8), row[0]);
        }

        // Null and empty strings everywhere: empty texts, the process-wide logger.
        KrLogger.LogMsg("JavaErrors", null, OWN_ERROR, "null-source");
        Check.equal("", only(named, "null-source").group(4), "null source file: empty file group");
        int before = Check.lines(named).size();
        KrLogger.LogMsg("JavaErrors", "Empty.java", STARTED, (String) null);
        KrLogger.LogMsg("JavaErrors", "Empty.java", STARTED, "");
        List<String> all = Check.lines(named);
        Check.equal(before + 2, all.size(), "null and empty arguments each log a line");
        for (String line : all.subList(before, all.size())) {
            Check.equal("Java component  started", parse(line).group(8), "one empty argument");
        }
    }

    static void argumentSlots(Path dir) {
        Check.scope("argument arrays");
        Path file = dir.resolve("arrays.log");
        Check.equal(1, KrLogger.InitializeLog("JavaArrays", KrLogger.OUTPUT_FILE, file.toString(),
                                              KrLogger.MODE_APPEND, 0, false, 0, false), "InitializeLog");
        String[] many = new String[1000];
        java.util.Arrays.fill(many, "x");
        Object[][] rows = {
            // array, text expected (null: nothing logged)
            {null, null},
            {new String[0], null},
            {new String[] {"a"}, "<a||||>"},
            {new String[] {"a", "b"}, "<a|b|||>"},
            {new String[] {"a", null, "c"}, "<a||c||>"},
            {new String[] {null, null, null, null, null}, "<||||>"},
            {new String[] {"1", "2", "3", "4", "5"}, "<1|2|3|4|5>"},
            {new String[] {"1", "2", "3", "4", "5", "6"}, null},
            {many, null},
        };
        int expected = 0;
        for (int i = 0; i < rows.length; i++) {
            String[] array = (String[]) rows[i][0];
            String source = "Row" + i + ".java";
            Check.equal(1, KrLogger.LogMsg("JavaArrays", source, MANY, array), "row " + i + " result");
            List<String> found = Check.linesWith(file, "[" + source + "]");
            if (rows[i][1] == null) {
                Check.equal(0, found.size(), "row " + i + " logs nothing");
            } else {
                expected++;
                Check.equal(1, found.size(), "row " + i + " logs one line");
                if (!found.isEmpty()) {
                    Check.equal(rows[i][1], parse(found.get(0)).group(8), "row " + i + " slots");
                }
            }
        }
        Check.equal(expected, Check.lines(file).size(), "lines of the array rows");
        // A logger is reached by name alone: an unknown name makes an empty logger, no line, no crash.
        Check.equal(1, KrLogger.LogMsg("JavaNoOutputYet", "X.java", OWN_ERROR, new String[] {"x"}), "no output");
    }

    static void outputsAndSwitches(Path dir) {
        Check.scope("outputs and switches");
        // Output type 0: a console; the file arguments are ignored.
        Path ignored = dir.resolve("ignored.log");
        Check.equal(1, KrLogger.InitializeLog("JavaConsole", KrLogger.OUTPUT_CONSOLE, ignored.toString(), 1, 0,
                                              false, 0, false), "console output");
        KrLogger.LogMsg("JavaConsole", "Console.java", OWN_ERROR, "to the console");
        Check.that(!Files.exists(ignored), "console output makes no file");
        // A file that cannot be opened (no folder): the logger refuses the output, 0.
        Check.equal(0, KrLogger.InitializeLog("JavaNoFolder", KrLogger.OUTPUT_FILE,
                                              dir.resolve("missing/x.log").toString(), 1, 0, false, 0, false),
                    "output that does not open");
        // A file output that refuses its parameters is no output at all: 1, and nothing attached.
        Check.equal(1, KrLogger.InitializeLog("JavaNullFile", KrLogger.OUTPUT_FILE, null, 1, 0, false, 0, false),
                    "null file name");
        Check.equal(1, KrLogger.InitializeLog("JavaBadMode", KrLogger.OUTPUT_FILE, dir.resolve("m.log").toString(),
                                              99, 0, false, 0, false), "unknown file mode");

        // Local time: TZ is 5:30 away from UTC; a false value keeps an earlier true.
        Path utc = dir.resolve("utc.log");
        Path local = dir.resolve("local.log");
        KrLogger.InitializeLog("JavaUtc", KrLogger.OUTPUT_FILE, utc.toString(), 1, 0, false, 0, false);
        KrLogger.InitializeLog("JavaLocal", KrLogger.OUTPUT_FILE, local.toString(), 1, 0, true, 0, false);
        KrLogger.InitializeLog("JavaLocal", KrLogger.OUTPUT_FILE, local.toString(), 1, 0, false, 0, false);
        KrLogger.LogMsg("JavaUtc", "Time.java", OWN_ERROR, "utc-line");
        KrLogger.LogMsg("JavaLocal", "Time.java", OWN_ERROR, "local-line");
        checkStamp(only(utc, "utc-line").group(3), LocalDateTime.now(ZoneOffset.UTC), "UTC stamp");
        checkStamp(only(local, "local-line").group(3), LocalDateTime.now(), "local stamp kept by a later false");

        // enableTag on the process-wide logger tags every line of the process.
        Path processWide = dir.resolve("process.log");
        Check.equal(1, KrLogger.InitializeLog("", KrLogger.OUTPUT_FILE, processWide.toString(), 1, 0, false, 0, true),
                    "process-wide logger by empty name");
        KrLogger.LogMsg(null, "Process.java", OWN_ERROR, "process-line");
        KrLogger.LogMsg("JavaUtc", "Time.java", OWN_ERROR, "tagged-line");
        Check.equal("[KRPSLOG]", only(processWide, "process-line").group(5), "process-wide logger, null name");
        Check.equal("[KRPSLOG][AGENTLOG]", only(utc, "tagged-line").group(5), "named logger after enableTag");
    }

    static void checkStamp(String stamp, LocalDateTime now, String what) {
        LocalDateTime written = LocalDateTime.parse(stamp,
            DateTimeFormatter.ofPattern("EEE MMM dd yyyy HH:mm:ss", Locale.ENGLISH));
        Check.that(Math.abs(ChronoUnit.SECONDS.between(written, now)) < 120, what + ": " + stamp + " vs " + now);
    }
}
