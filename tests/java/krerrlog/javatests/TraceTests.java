// Trace lines written from Java: the configured layout, literal and formatted
// messages, the refusals and warning traces for more than five arguments, the
// trace switches, named loggers' own traces, and bad configuration files.
package krerrlog.javatests;

import com.halvorn.krerrlog.KrLogger;

import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;

public final class TraceTests {
    static final int LOG = 0x01000000;         // the library's own component "Log": selected
    static final int TEST = 0x02020000;        // "Test/Network" of the test component: selected
    static final int UNSELECTED = 0x02010000;  // "Test/Config": left out
    static final String FIELDS = "SrcFile, Function, TransactionID, Message, Tag";

    private TraceTests() {
    }

    public static void main(String[] args) {
        Check.watchdog(120);
        run(Path.of(args[0]));
        Check.finish("TraceTests");
    }

    static Path config(Path dir, String name, String components) {
        return Check.write(dir.resolve(name), "components: " + components + "\ndata: " + FIELDS + "\n");
    }

    /** The data lines of a format-2 trace file (after its two header lines), split at the delimiter. */
    static List<String[]> rows(Path file) {
        List<String> lines = Check.lines(file);
        Check.that(lines.size() >= 2, file.getFileName() + " has its two header lines");
        if (lines.size() >= 2) {
            Check.equal(FIELDS.replace(", ", "|"), lines.get(0), "first header line: the field names");
        }
        List<String[]> rows = new java.util.ArrayList<>();
        for (String line : lines.subList(Math.min(2, lines.size()), lines.size())) {
            rows.add(line.split("\\|", -1));
        }
        return rows;
    }

    static String[] row(String src, String function, String tx, String message, String tag) {
        return new String[] {src, function, tx, Check.asWritten(message), tag};
    }

    static void run(Path work) {
        Path dir = Check.folder(work, "trace");
        refusals(dir);
        processWideTrace(dir);
        namedLoggerTrace(dir);
    }

    static void refusals(Path dir) {
        Check.scope("InitializeTrace refusals");
        Path good = config(dir, "good.conf", "Log");
        String file = dir.resolve("refused.log").toString();
        Check.that(!KrLogger.TraceEnabled(null), "no trace before InitializeTrace");
        Check.equal(0, KrLogger.InitializeTrace(null, 1, file, 1, 0, 2, "|", null, false, 0, false), "null config");
        Check.equal(0, KrLogger.InitializeTrace(null, 1, file, 1, 0, 2, "|", "", false, 0, false), "empty config");
        Check.equal(0, KrLogger.InitializeTrace(null, 1, file, 1, 0, 2, "|", dir.resolve("none.conf").toString(),
                                                false, 0, false), "configuration file that does not exist");
        Check.equal(0, KrLogger.InitializeTrace(null, 1, dir.resolve("no/folder.log").toString(), 1, 0, 2, "|",
                                                good.toString(), false, 0, false), "file output that cannot be made");
        Check.that(!KrLogger.TraceEnabled(""), "still no trace after the refusals");
    }

    static void processWideTrace(Path dir) {
        Check.scope("process-wide trace");
        Path conf = config(dir, "process.conf", "Log, Test/Network");
        Path file = dir.resolve("process.log");
        Path errors = dir.resolve("errors.log");
        KrLogger.InitializeLog(null, KrLogger.OUTPUT_FILE, errors.toString(), 1, 0, false, 0, false);
        Check.equal(1, KrLogger.InitializeTrace(null, KrLogger.OUTPUT_FILE, file.toString(), KrLogger.MODE_APPEND, 0,
                                                KrLogger.FORMAT_DELIMITED, "|", conf.toString(), false, 0, false),
                    "InitializeTrace");
        Check.that(KrLogger.TraceEnabled(null) && KrLogger.TraceEnabled(""), "TraceEnabled by null and empty name");
        Check.that(KrLogger.TraceEnabledComponent(null, LOG), "Log selected");
        Check.that(KrLogger.TraceEnabledComponent("", TEST), "Test/Network selected");
        Check.that(!KrLogger.TraceEnabledComponent(null, UNSELECTED), "Test/Config not selected");
        Check.that(!KrLogger.TraceEnabledComponent(null, 0x02000000), "Test itself not selected");
        Check.that(!KrLogger.TraceEnabled("JavaNeverTraced"), "another logger does not trace");

        String[] tooMany = {"1", "2", "3", "4", "5", "6"};
        String[] thousand = new String[1000];
        Arrays.fill(thousand, "y");
        String warnTrace = "WARNING!!! Too many arguments in message - Message not logged.  Unformatted message is: ";
        String warnLog = "WARNING!!! Too many arguments in message.  Message not logged.  Message ID is: ";
        String bridge = "KrJNIEntryPoint";
        String fn = "KrJNIEntryPoint::LogMsg";
        String tag = "AGENTTRACELOG";
        Object[][] calls = {
            // what, the call, the rows it must add
            {"literal message, % kept", (Runnable) () ->
                KrLogger.TraceMsg(null, "src/a/Trace.java", "run", LOG, "tx-1", "100% of %d"),
             new String[][] {row("Trace.java", "run", "tx-1", "100% of %d", tag)}},
            {"null strings everywhere", (Runnable) () -> KrLogger.TraceMsg(null, null, null, LOG, null, null),
             new String[][] {row("", "", "", "", tag)}},
            {"unselected component", (Runnable) () -> KrLogger.TraceMsg("", "U.java", "u", UNSELECTED, "t", "m"),
             new String[][] {}},
            {"outside the BMP", (Runnable) () ->
                KrLogger.TraceMsg(null, "U.java", "f\u00fc", TEST, "t\uD83D\uDE00", "\u0416 \uD834\uDD1E"),
             new String[][] {row("U.java", Check.asWritten("f\u00fc"), Check.asWritten("t\uD83D\uDE00"),
                                 "\u0416 \uD834\uDD1E", tag)}},
            {"two of five slots", (Runnable) () ->
                KrLogger.TraceMsg(null, "F.java", "f", LOG, "t", "a=%s b=%s c=%s", new String[] {"1", null}),
             new String[][] {row("F.java", "f", "t", "a=1 b= c=", tag)}},
            {"five slots", (Runnable) () ->
                KrLogger.TraceMsg(null, "F.java", "f", LOG, "t", "%s%s%s%s%s", new String[] {"1", "2", "3", "4", "5"}),
             new String[][] {row("F.java", "f", "t", "12345", tag)}},
            {"null array: literal", (Runnable) () ->
                KrLogger.TraceMsg(null, "F.java", "f", LOG, "t", "%s stays", (String[]) null),
             new String[][] {row("F.java", "f", "t", "%s stays", tag)}},
            {"empty array: literal", (Runnable) () ->
                KrLogger.TraceMsg(null, "F.java", "f", LOG, "t", "%d stays", new String[0]),
             new String[][] {row("F.java", "f", "t", "%d stays", tag)}},
            {"six: the warning only", (Runnable) () ->
                KrLogger.TraceMsg(null, "F.java", "f", TEST, "t", "six %s", tooMany),
             new String[][] {row(bridge + ":619", fn, "", warnTrace + "six %s", tag)}},
            {"a thousand: the warning only", (Runnable) () ->
                KrLogger.TraceMsg(null, "F.java", "f", LOG, "t", "k", thousand),
             new String[][] {row(bridge + ":619", fn, "", warnTrace + "k", tag)}},
            {"six, unselected: nothing", (Runnable) () ->
                KrLogger.TraceMsg(null, "F.java", "f", UNSELECTED, "t", "k", tooMany),
             new String[][] {}},
            {"LogMsg with six: the warning under the message's component", (Runnable) () ->
                KrLogger.LogMsg(null, "L.java", 0x0101C001, tooMany),
             new String[][] {row(bridge + ":394", fn, "", warnLog + 0x0101C001, tag)}},
            {"LogMsg with six, component not selected: nothing", (Runnable) () ->
                KrLogger.LogMsg(null, "L.java", 0x0200C009, tooMany),
             new String[][] {}},
        };
        int seen = 0;
        for (Object[] call : calls) {
            Check.scope("process-wide trace: " + call[0]);
            ((Runnable) call[1]).run();
            List<String[]> all = rows(file);
            String[][] want = (String[][]) call[2];
            Check.equal(seen + want.length, all.size(), "rows after the call");
            for (int i = 0; i < want.length && seen + i < all.size(); i++) {
                Check.equal(Arrays.asList(want[i]), Arrays.asList(all.get(seen + i)), "row");
            }
            seen = all.size();
        }
        Check.scope("process-wide trace");
        Check.equal(0, Check.lines(errors).size(), "refused messages reach no error log");
    }

    static void namedLoggerTrace(Path dir) {
        Check.scope("named logger trace");
        Path conf = config(dir, "named.conf", "Log");
        Path named = dir.resolve("named.log");
        Path processWide = dir.resolve("process.log");
        int processRows = rows(processWide).size();
        Check.equal(1, KrLogger.InitializeTrace("JavaTraceNamed", KrLogger.OUTPUT_FILE, named.toString(), 1, 0,
                                                KrLogger.FORMAT_DELIMITED, "|", conf.toString(), false, 0, true),
                    "InitializeTrace named");
        Check.that(KrLogger.TraceEnabled("JavaTraceNamed"), "named logger traces");
        Check.that(!KrLogger.TraceEnabledComponent("JavaTraceNamed", TEST), "its own selection");
        KrLogger.TraceMsg("JavaTraceNamed", "N.java", "n", LOG, "tx", "named-line");
        KrLogger.TraceMsg("JavaTraceNamed", "N.java", "n", TEST, "tx", "not selected there");
        KrLogger.TraceMsg("JavaTraceNamed", "N.java", "n", LOG, "tx", "%s-%s", new String[] {"a", "b"});
        List<String[]> got = rows(named);
        Check.equal(2, got.size(), "named logger rows");
        if (got.size() == 2) {
            // Its tag was switched on by InitializeTrace's enableTag.
            Check.equal(Arrays.asList(row("N.java", "n", "tx", "named-line", "ZDLTRACELOG")), Arrays.asList(got.get(0)),
                        "row");
            Check.equal(Arrays.asList(row("N.java", "n", "tx", "a-b", "ZDLTRACELOG")), Arrays.asList(got.get(1)), "row");
        }
        Check.equal(processRows, rows(processWide).size(), "nothing of the named logger in the process-wide trace");
    }
}
