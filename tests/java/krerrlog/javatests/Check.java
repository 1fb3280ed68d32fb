// Test support for the Java programs that drive the bridge: checks that count
// failures, file reading byte for byte, a watchdog and a start line for threads.
package krerrlog.javatests;

import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;

final class Check {
    private static int failures;
    private static String scope = "";

    private Check() {
    }

    /** Names the case the next failures belong to. */
    static void scope(String name) {
        scope = name;
    }

    static void that(boolean condition, String what) {
        if (!condition) {
            failures++;
            System.out.println("FAIL [" + scope + "] " + what);
        }
    }

    static void equal(Object expected, Object actual, String what) {
        that(expected == null ? actual == null : expected.equals(actual),
             what + ": expected <" + expected + "> but was <" + actual + ">");
    }

    /** Ends the program: exit code 1 after any failure. */
    static void finish(String program) {
        if (failures != 0) {
            System.out.println(program + ": " + failures + " failure(s)");
            System.exit(1);
        }
        System.out.println(program + ": all checks passed");
        System.exit(0);
    }

    /** Ends the process if it is still running after the given time: a hang is a failure, not a stuck run. */
    static void watchdog(int seconds) {
        Thread dog = new Thread(() -> {
            try {
                Thread.sleep(seconds * 1000L);
                System.out.println("FAIL watchdog: still running after " + seconds + " s");
                Runtime.getRuntime().halt(3);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }, "watchdog");
        dog.setDaemon(true);
        dog.start();
    }

    /** The bytes the library receives for a Java string: modified UTF-8. */
    static byte[] modifiedUtf8(String text) {
        try {
            ByteArrayOutputStream bytes = new ByteArrayOutputStream();
            new DataOutputStream(bytes).writeUTF(text);
            byte[] all = bytes.toByteArray();
            return Arrays.copyOfRange(all, 2, all.length);  // without writeUTF's length prefix
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    /** A string whose chars are the bytes the library writes for text, one char per byte. */
    static String asWritten(String text) {
        return new String(modifiedUtf8(text), StandardCharsets.ISO_8859_1);
    }

    /** The lines of a file, one char per byte (so any byte compares exactly), without the newlines. */
    static List<String> lines(Path file) {
        List<String> lines = new ArrayList<>();
        if (!Files.exists(file)) {
            return lines;
        }
        try {
            String all = new String(Files.readAllBytes(file), StandardCharsets.ISO_8859_1);
            if (all.isEmpty()) {
                return lines;
            }
            that(all.endsWith("\n"), file + " ends with a whole line");
            lines.addAll(Arrays.asList(all.split("\n", -1)));
            lines.remove(lines.size() - 1);
        } catch (IOException e) {
            that(false, "cannot read " + file + ": " + e);
        }
        return lines;
    }

    /** Lines of file that contain part. */
    static List<String> linesWith(Path file, String part) {
        List<String> found = new ArrayList<>();
        for (String line : lines(file)) {
            if (line.contains(part)) {
                found.add(line);
            }
        }
        return found;
    }

    /** A fresh folder under the test's work folder. */
    static Path folder(Path parent, String name) {
        try {
            Path dir = parent.resolve(name);
            if (Files.exists(dir)) {
                try (var walk = Files.walk(dir)) {
                    walk.sorted((a, b) -> b.compareTo(a)).forEach(p -> p.toFile().delete());
                }
            }
            return Files.createDirectories(dir);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    static Path write(Path file, String text) {
        try {
            return Files.write(file, text.getBytes(StandardCharsets.UTF_8));
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    /** Runs body on count threads that all start together; fails (and gives up) after a minute. */
    static void onThreads(int count, ThreadBody body) {
        CountDownLatch ready = new CountDownLatch(count);
        CountDownLatch go = new CountDownLatch(1);
        List<Thread> threads = new ArrayList<>();
        List<Throwable> errors = new ArrayList<>();
        for (int i = 0; i < count; i++) {
            final int index = i;
            Thread t = new Thread(() -> {
                ready.countDown();
                try {
                    go.await();
                    body.run(index);
                } catch (Throwable e) {
                    synchronized (errors) {
                        errors.add(e);
                    }
                }
            }, "worker-" + i);
            threads.add(t);
            t.start();
        }
        try {
            that(ready.await(60, TimeUnit.SECONDS), "all " + count + " threads started");
            go.countDown();
            for (Thread t : threads) {
                t.join(60_000);
                that(!t.isAlive(), t.getName() + " finished within a minute");
            }
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        for (Throwable e : errors) {
            that(false, "worker threw " + e);
        }
    }

    interface ThreadBody {
        void run(int index) throws Exception;
    }
}
