// A Java program outside the tree: the installed jar and library, loaded the
// default way (System.loadLibrary through java.library.path), write a line.
import com.halvorn.krerrlog.KrLogHandler;
import com.halvorn.krerrlog.KrLogger;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.logging.Logger;

public class JavaConsumer {
    public static void main(String[] args) throws Exception {
        Path log = Path.of(args[0]);
        if (KrLogger.InitializeLog("JavaConsumer", KrLogger.OUTPUT_FILE, log.toString(), KrLogger.MODE_APPEND, 0,
                                   false, 0, false) != 1) {
            throw new IllegalStateException("InitializeLog refused the file");
        }
        KrLogger.LogMsg("JavaConsumer", "JavaConsumer.java", 0x0100C001, "from the installed jar");
        Logger logger = Logger.getLogger("consumer");
        logger.setUseParentHandlers(false);
        logger.addHandler(new KrLogHandler("JavaConsumer", KrLogHandler.DEFAULT_TRACE_ID));
        logger.warning("through java.util.logging");
        String text = Files.readString(log);
        if (!text.contains("[ERROR][kr-log-00000] from the installed jar\n")
            || !text.contains("[WARNING][kr-log-00000] through java.util.logging\n")) {
            throw new IllegalStateException("unexpected log file:\n" + text);
        }
    }
}
