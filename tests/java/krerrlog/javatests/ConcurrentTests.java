// Many Java threads at once: one new logger name met by every thread at the
// same moment, several loggers written together, and traces beside them.
// Every line must arrive exactly once and whole.
package krerrlog.javatests;

import com.halvorn.krerrlog.KrLogger;

import java.nio.file.Path;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

public final class ConcurrentTests {
    static final int THREADS = 16;
    static final int CALLS = 400;

    private ConcurrentTests() {
    }

    public static void main(String[] args) {
        Check.watchdog(240);
        Path dir = Check.folder(Path.of(args[0]), "concurrent");
        oneNameFromManyThreads(dir);
        manyLoggersAndTraces(dir);
        Check.finish("ConcurrentTests");
    }

    /** Every thread's first call names the same new logger: exactly one logger may come of it. */
    static void oneNameFromManyThreads(Path dir) {
        Check.scope("one new name from many threads");
        Check.onThreads(THREADS, i -> KrLogger.TraceEnabled("JavaShared"));
        Path file = dir.resolve("shared.log");
        Check.equal(1, KrLogger.InitializeLog("JavaShared", KrLogger.OUTPUT_FILE, file.toString(), 1, 0, false, 0,
                                              false), "InitializeLog after the race");
        // Had two threads made two loggers of that name, some lines would go to one without an output.
        Check.onThreads(THREADS, i -> {
            for (int n = 0; n < 50; n++) {
                KrLogger.LogMsg("JavaShared", "Shared.java", ErrorLogTests.OWN_ERROR, "s-" + i + "-" + n);
            }
        });
        expectEach(file, "s-", THREADS, 50);
    }

    static void manyLoggersAndTraces(Path dir) {
        Check.scope("loggers and traces together");
        String[] names = {"JavaA", "JavaB", "JavaC"};
        for (String name : names) {
            KrLogger.InitializeLog(name, KrLogger.OUTPUT_FILE, dir.resolve(name + ".log").toString(), 1, 0, false, 0,
                                   false);
        }
        Path conf = TraceTests.config(dir, "trace.conf", "Log");
        Path trace = dir.resolve("trace.log");
        Check.equal(1, KrLogger.InitializeTrace(null, 1, trace.toString(), 1, 0, KrLogger.FORMAT_DELIMITED, "|",
                                                conf.toString(), false, 0, false), "InitializeTrace");
        // Round 0: thread 0 also replaces the outputs again and again while the
        // others write. Error lines wait for the replacement and are never lost;
        // a trace call that begins while the trace is being replaced finds the
        // trace off and is dropped, so round 0's trace lines need only be whole
        // and single. Round 1, with nothing replaced, must deliver every line.
        for (int round = 0; round < 2; round++) {
            final int r = round;
            Check.onThreads(THREADS, i -> {
                String name = names[i % names.length];
                for (int n = 0; n < CALLS; n++) {
                    String id = r + "-" + i + "-" + n;
                    if (r == 0 && i == 0 && n % 20 == 10) {
                        Check.equal(1, KrLogger.InitializeLog(name, KrLogger.OUTPUT_FILE,
                                                              dir.resolve(name + ".log").toString(), 1, 0, false, 0,
                                                              false), "InitializeLog while logging");
                        Check.equal(1, KrLogger.InitializeTrace(null, 1, trace.toString(), 1, 0,
                                                                KrLogger.FORMAT_DELIMITED, "|", conf.toString(), false,
                                                                0, false), "InitializeTrace while tracing");
                        Check.that(KrLogger.TraceEnabledComponent(null, TraceTests.LOG), "Log selected throughout");
                    }
                    switch (n % 4) {
                    case 0:
                        KrLogger.LogMsg(name, "C.java", ErrorLogTests.OWN_ERROR, "e-" + id);
                        break;
                    case 1:
                        KrLogger.LogMsg(name, "C.java", ErrorLogTests.OWN_ERROR, new String[] {"e-" + id, null, "z"});
                        break;
                    case 2:
                        KrLogger.TraceMsg(null, "C.java", "f", TraceTests.LOG, "tx", "t-" + id);
                        break;
                    default:
                        KrLogger.TraceMsg(null, "C.java", "f", TraceTests.LOG, "tx", "t-%s", new String[] {id});
                        KrLogger.TraceMsg(null, "C.java", "f", TraceTests.TEST, "tx", "never-" + id);
                        break;
                    }
                }
            });
        }
        Set<String> errors = new HashSet<>();
        for (String name : names) {
            for (String line : Check.lines(dir.resolve(name + ".log"))) {
                String[] id = ErrorLogTests.parse(line).group(8).split("-");
                Check.that(errors.add(String.join("-", id)), "error line once: " + String.join("-", id));
                Check.equal(name, names[Integer.parseInt(id[2]) % names.length], "line in its logger's file");
            }
        }
        Check.equal(2 * THREADS * CALLS / 2, errors.size(), "every error line of both rounds");
        Set<String> traced = new HashSet<>();
        int lastRound = 0;
        for (String[] row : TraceTests.rows(trace)) {
            if (row[0].equals("SrcFile") || row[0].startsWith("=")) {
                continue;  // the header lines of each InitializeTrace
            }
            Check.that(row.length == 5 && row[3].startsWith("t-") && traced.add(row[3]), "trace row once and whole");
            lastRound += row[3].startsWith("t-1-") ? 1 : 0;
        }
        Check.equal(THREADS * CALLS / 2, lastRound, "every trace line of round 1");
        Check.that(traced.size() > THREADS * CALLS / 2, "round 0 traced too");
    }

    static void expectEach(Path file, String prefix, int threads, int calls) {
        List<String> lines = Check.lines(file);
        Set<String> texts = new HashSet<>();
        for (String line : lines) {
            texts.add(ErrorLogTests.parse(line).group(8));
        }
        Check.equal(threads * calls, lines.size(), "lines in " + file.getFileName());
        for (int i = 0; i < threads; i++) {
            for (int n = 0; n < calls; n++) {
                Check.that(texts.contains(prefix + i + "-" + n), "line " + prefix + i + "-" + n);
            }
        }
    }
}
