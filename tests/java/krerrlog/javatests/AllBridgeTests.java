// The trace, error-log and handler programs in one JVM, for the run under the
// JVM's JNI checks (the trace program first: it expects no trace yet and no
// tag on the process-wide logger).
package krerrlog.javatests;

import java.nio.file.Path;

public final class AllBridgeTests {
    private AllBridgeTests() {
    }

    public static void main(String[] args) throws Exception {
        Check.watchdog(240);
        Path work = Path.of(args[0]);
        TraceTests.run(work);
        ErrorLogTests.run(work);
        LogHandlerTests.levels(Check.folder(work, "handler"));
        Check.finish("AllBridgeTests");
    }
}
