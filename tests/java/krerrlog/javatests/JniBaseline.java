// An empty native method with TraceMsg's parameters: the bare cost of a JNI call.
package krerrlog.javatests;

final class JniBaseline {
    static {
        System.load(System.getProperty("krerrlog.baseline"));
    }

    private JniBaseline() {
    }

    static native int Empty(String loggerName, String sourceFile, String function, int traceId, String transactionId,
                            String message);
}
