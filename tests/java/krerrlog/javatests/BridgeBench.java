// Timing loops for the bridge: ns per call of LogMsg into a file and of
// TraceMsg for a component the trace does not select, on 1 and 4 Java threads,
// beside an empty native method with TraceMsg's parameters.
// Run: bench/java_bridge_bench.sh [build folder] [part of a call's name, to time only those calls]
package krerrlog.javatests;

import com.halvorn.krerrlog.KrLogger;

import java.nio.file.Path;
import java.util.concurrent.CyclicBarrier;

public final class BridgeBench {
    static final int UNSELECTED = 0x02000000;
    static volatile long sink;
    static String only = "";

    private BridgeBench() {
    }

    interface Call {
        int run(int i);
    }

    public static void main(String[] args) throws Exception {
        Path dir = Check.folder(Path.of(args[0]), "bench");
        only = args.length > 1 ? args[1] : "";
        Path conf = Check.write(dir.resolve("bench.conf"), "components: Log\ndata: Message, Tag\n");
        KrLogger.InitializeTrace(null, 1, dir.resolve("process-trace.log").toString(), 1, 0, 2, "|", conf.toString(),
                                 false, 0, false);
        KrLogger.InitializeTrace("JavaBench", 1, dir.resolve("named-trace.log").toString(), 1, 0, 2, "|",
                                 conf.toString(), false, 0, false);
        KrLogger.InitializeLog("JavaBench", 1, dir.resolve("bench.log").toString(), 1, 0, false, 0, false);
        String[] five = {"a", "b", "c", "d", "e"};

        System.out.printf("%-58s %8s %12s%n", "call", "threads", "ns/call");
        for (int threads : new int[] {1, 4}) {
            report("empty native method (TraceMsg's parameters)", threads, 5_000_000,
                   i -> JniBaseline.Empty(null, "Bench.java", "run", UNSELECTED, "tx", "message"));
            report("TraceMsg, unselected, process-wide logger (null name)", threads, 5_000_000,
                   i -> KrLogger.TraceMsg(null, "Bench.java", "run", UNSELECTED, "tx", "message"));
            report("TraceMsg, unselected, named logger", threads, 2_000_000,
                   i -> KrLogger.TraceMsg("JavaBench", "Bench.java", "run", UNSELECTED, "tx", "message"));
            report("TraceMsg with 5 arguments, unselected, null name", threads, 2_000_000,
                   i -> KrLogger.TraceMsg(null, "Bench.java", "run", UNSELECTED, "tx", "%s%s%s%s%s", five));
            report("LogMsg one argument into a file, named logger", threads, 300_000,
                   i -> KrLogger.LogMsg("JavaBench", "Bench.java", ErrorLogTests.OWN_ERROR, "bench line"));
        }
    }

    /** Runs calls per thread on threads threads after a warm-up; prints the mean ns per call of a thread. */
    static void report(String what, int threads, int calls, Call call) throws Exception {
        if (!what.contains(only)) {
            return;
        }
        long[] elapsed = new long[threads];
        CyclicBarrier start = new CyclicBarrier(threads);
        Thread[] workers = new Thread[threads];
        for (int t = 0; t < threads; t++) {
            final int index = t;
            workers[t] = new Thread(() -> {
                try {
                    long s = 0;
                    for (int i = 0; i < Math.min(calls, 200_000); i++) {
                        s += call.run(i);  // warm-up: the JIT compiles the loop and the call
                    }
                    start.await();
                    long begin = System.nanoTime();
                    for (int i = 0; i < calls; i++) {
                        s += call.run(i);
                    }
                    elapsed[index] = System.nanoTime() - begin;
                    sink += s;
                } catch (Exception e) {
                    throw new IllegalStateException(e);
                }
            });
            workers[t].start();
        }
        for (Thread w : workers) {
            w.join();
        }
        double total = 0;
        for (long e : elapsed) {
            total += e;
        }
        System.out.printf("%-58s %8d %12.1f%n", what, threads, total / threads / calls);
    }
}
