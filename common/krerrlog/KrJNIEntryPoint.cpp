// The Java bridge: the native methods of com.halvorn.krerrlog.KrLogger. Each
// call reads its Java strings as modified UTF-8, picks the logger by name,
// calls the logger and gives back every string and local reference it took;
// nothing is kept between calls, so any number of Java threads may call at once.
#include <jni.h>

#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/logger/CKrLoggerList.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/output/CKrLogOutput.h>
#include <krerrlog/support/KrXlate.h>
#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/trace/KrTraceVocabulary.h>
#include <krerrlog/trace/KrTracing.h>

namespace {

// A message or trace line takes at most this many arguments from Java; the
// formatter always receives exactly this many, the missing ones empty.
constexpr jsize kMaxJavaArguments = 5;

// What the warning traces of refused messages name as their origin.
constexpr const char* kBridgeSourceFile = "common/krerrlog/KrJNIEntryPoint";
constexpr const char* kWarningFunction = "KrJNIEntryPoint::LogMsg";
constexpr int kLogWarningLine = 394;
constexpr int kTraceWarningLine = 619;

// The data field "TransactionID" (the known data fields table's row 18).
constexpr unsigned int kTransactionIdField = 18;

// A Java string read with GetStringUTFChars and given back when the object
// goes. A null string (or one the JVM could not copy) reads as null.
class JavaText {
public:
    JavaText(JNIEnv* env, jstring string) : m_env(env), m_string(string)
    {
        if (!string) return;
        m_chars = env->GetStringUTFChars(string, nullptr);
        // Out of memory: the text counts as null, and the Java caller gets no
        // exception from a logging call.
        if (!m_chars) env->ExceptionClear();
    }
    ~JavaText()
    {
        if (m_chars) m_env->ReleaseStringUTFChars(m_string, m_chars);
    }
    JavaText(const JavaText&) = delete;
    JavaText& operator=(const JavaText&) = delete;

    const char* Get() const { return m_chars; }
    const char* OrEmpty() const { return m_chars ? m_chars : ""; }
    bool IsEmpty() const { return !m_chars || !*m_chars; }

private:
    JNIEnv* m_env;
    jstring m_string;
    const char* m_chars = nullptr;
};

// The first count (at most kMaxJavaArguments) elements of a Java string array,
// each read with GetStringUTFChars; Texts() gives all kMaxJavaArguments slots,
// the ones past the array (and null elements) empty. Every element's text is
// given back and its local reference deleted when the object goes.
class JavaArguments {
public:
    JavaArguments(JNIEnv* env, jobjectArray array, jsize count) : m_env(env)
    {
        for (jsize i = 0; i < kMaxJavaArguments; ++i) m_texts[i] = "";
        for (jsize i = 0; i < count && i < kMaxJavaArguments; ++i) {
            auto element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
            if (env->ExceptionCheck()) {
                env->ExceptionClear();
                continue;
            }
            m_elements[i] = element;
            if (!element) continue;
            m_chars[i] = env->GetStringUTFChars(element, nullptr);
            if (m_chars[i]) m_texts[i] = m_chars[i];
            else env->ExceptionClear();
        }
    }
    ~JavaArguments()
    {
        for (jsize i = 0; i < kMaxJavaArguments; ++i) {
            if (m_chars[i]) m_env->ReleaseStringUTFChars(m_elements[i], m_chars[i]);
            if (m_elements[i]) m_env->DeleteLocalRef(m_elements[i]);
        }
    }
    JavaArguments(const JavaArguments&) = delete;
    JavaArguments& operator=(const JavaArguments&) = delete;

    const char** Texts() { return m_texts; }

private:
    JNIEnv* m_env;
    jstring m_elements[kMaxJavaArguments] = {};
    const char* m_chars[kMaxJavaArguments] = {};
    const char* m_texts[kMaxJavaArguments];
};

// The named logger for a non-empty name, else the process-wide logger.
CKrLogger* SelectLogger(const JavaText& name)
{
    return name.IsEmpty() ? theLogger() : getMyLogger(name.Get());
}

// A console output for output type 0, else a file output; null when the
// output refuses its parameters.
CKrLogOutput* MakeOutput(CKrLogger& logger, jint outputType, const JavaText& fileName, jint fileMode,
                         jint rolloverSizeMB, jint backupCount)
{
    if (outputType == 0) return logger.NewLogOutput(0);
    return logger.NewLogOutput(outputType, fileName.Get(), fileMode, rolloverSizeMB, backupCount);
}

// One error line: the prolog names the source file without a line and carries
// the logger's tags, then the catalogue text of id with the arguments.
void LogMessage(CKrLogger& logger, const char* sourceFile, jint id, const char* const* arguments, int count)
{
    CKrErrLogMessage message(logger.ShouldUseLocalTime());
    message.FormatLogProlog(sourceFile, 0, 0, logger.GetLogName());
    message.ClearArguments();
    for (int i = 0; i < count; ++i) message.AddArgument(arguments[i]);
    message.FormatMessageA(static_cast<unsigned int>(id));
    logger.LogErrMsg(message);
}

// The warning traced, on the process-wide logger's trace, in place of a
// message with more than five arguments, when componentId is traced there.
void TraceArgumentWarning(unsigned int componentId, const char* format, const __ToString__& argument, int line)
{
    KrTracing tracing;
    if (!tracing.BeginEx()) return;
    tracing.AddComp(componentId);
    if (!tracing.NeedTracing() && !tracing.InMemoryNeedTracing()) return;
    tracing.SetData(KR_FIELD_FUNCTION, kWarningFunction);
    tracing.SetMsg(format, argument);
    tracing.Done(kBridgeSourceFile, line);
}

void TraceTooManyLogArguments(jint messageId)
{
    TraceArgumentWarning(static_cast<unsigned int>(messageId) & 0xFFFF0000u,
                         "WARNING!!! Too many arguments in message.  Message not logged.  Message ID is: %d",
                         __ToString__(messageId), kLogWarningLine);
}

void TraceTooManyTraceArguments(jint traceId, const char* message)
{
    TraceArgumentWarning(static_cast<unsigned int>(traceId),
                         "WARNING!!! Too many arguments in message - Message not logged.  Unformatted message is: %s",
                         __ToString__(message), kTraceWarningLine);
}

// Starts a trace call of traceId on the logger the name selects: the
// process-wide logger's call uses the thread's own records through BeginEx; a
// named logger's call runs on the record the thread holds for that logger
// (taken from the pool on its first traced call). False when neither trace
// kind wants the call, so the caller reads none of its other strings.
bool BeginTraceCall(KrTracing& tracing, const JavaText& loggerName, jint traceId)
{
    if (loggerName.IsEmpty()) {
        if (!tracing.BeginEx()) return false;
    } else {
        CKrLogger* logger = getMyLogger(loggerName.Get());
        if (!logger) return false;
        CKrTraceData* record = logger->GetLocalKrTraceData();
        if (!record && logger->TraceEnabled(0)) logger->TraceAlloc(&record);
        if (!record) record = logger->GetLocalInMemoryKrTraceData();
        if (!record && logger->InMemoryTraceEnabled(0)) logger->InMemoryTraceAlloc(&record);
        if (!record || !tracing.BeginExWobj(*record)) return false;
    }
    tracing.AddComp(static_cast<unsigned int>(traceId));
    if (!tracing.NeedTracing() && !tracing.InMemoryNeedTracing()) return false;
    // A thread inside a CKrTraceSupresser scope traces nothing from Java either.
    return CKrTraceSupresser::isTracing();
}

// Function, message and transaction id of a Java trace line, then the line
// itself, with the source file's base name as its position.
void FinishTraceCall(KrTracing& tracing, const JavaText& sourceFile, const JavaText& function,
                     const JavaText& transactionId, const char* format, int count, const char** arguments)
{
    tracing.SetData(KR_FIELD_FUNCTION, function.OrEmpty());
    tracing.SetMsgVA(format, count, arguments);
    tracing.SetData(kTransactionIdField, transactionId.OrEmpty());
    tracing.DoneEx(sourceFile.OrEmpty(), 0);
}

}  // namespace

// Every entry point catches whatever the library below might throw (memory
// exhaustion while building a line): nothing unwinds into the JVM.

extern "C" JNIEXPORT jint JNICALL Java_com_halvorn_krerrlog_KrLogger_InitializeLog(
    JNIEnv* env, jclass, jstring loggerName, jint outputType, jstring fileName, jint fileMode, jint rolloverSizeMB,
    jboolean useLocalTime, jint backupCount, jboolean enableTag)
{
    try {
        JavaText file(env, fileName);
        JavaText name(env, loggerName);
        CKrLogger* logger = SelectLogger(name);
        if (!logger) return -1;
        // Only a true value changes a switch: false leaves an earlier setting.
        if (useLocalTime) logger->UseLocalTime(true);
        if (enableTag) logger->EnableTag(true);
        CKrLogOutput* output = MakeOutput(*logger, outputType, file, fileMode, rolloverSizeMB, backupCount);
        if (output && !logger->SetLogOutput(output)) {
            logger->DeleteLogOutput(output);
            return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

extern "C" JNIEXPORT jint JNICALL Java_com_halvorn_krerrlog_KrLogger_SetResourcesDirectory(JNIEnv* env, jclass,
                                                                                            jstring directory)
{
    if (!directory) return 0;
    try {
        JavaText text(env, directory);
        if (text.IsEmpty()) return 0;
        return CKrXlate::SetResourceDirectory(text.Get()) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

extern "C" JNIEXPORT jint JNICALL Java_com_halvorn_krerrlog_KrLogger_LogMsg__Ljava_lang_String_2Ljava_lang_String_2ILjava_lang_String_2(
    JNIEnv* env, jclass, jstring loggerName, jstring sourceFile, jint messageId, jstring argument)
{
    try {
        JavaText name(env, loggerName);
        JavaText source(env, sourceFile);
        JavaText text(env, argument);
        CKrLogger* logger = SelectLogger(name);
        if (logger) {
            const char* argumentText = text.OrEmpty();
            LogMessage(*logger, source.OrEmpty(), messageId, &argumentText, 1);
        }
    } catch (...) {
    }
    return 1;
}

extern "C" JNIEXPORT jint JNICALL Java_com_halvorn_krerrlog_KrLogger_LogMsg__Ljava_lang_String_2Ljava_lang_String_2I_3Ljava_lang_String_2(
    JNIEnv* env, jclass, jstring loggerName, jstring sourceFile, jint messageId, jobjectArray arguments)
{
    try {
        JavaText name(env, loggerName);
        JavaText source(env, sourceFile);
        CKrLogger* logger = SelectLogger(name);
        if (!arguments) return 1;
        const jsize count = env->GetArrayLength(arguments);
        if (count > kMaxJavaArguments) {
            TraceTooManyLogArguments(messageId);
            return 1;
        }
        if (count == 0) return 1;
        JavaArguments texts(env, arguments, count);
        if (logger) LogMessage(*logger, source.OrEmpty(), messageId, texts.Texts(), kMaxJavaArguments);
    } catch (...) {
    }
    return 1;
}

extern "C" JNIEXPORT jint JNICALL Java_com_halvorn_krerrlog_KrLogger_InitializeTrace(
    JNIEnv* env, jclass, jstring loggerName, jint outputType, jstring fileName, jint fileMode, jint rolloverSizeMB,
    jint traceFormat, jstring delimiter, jstring traceConfigFile, jboolean useLocalTime, jint backupCount,
    jboolean enableTag)
{
    if (!traceConfigFile) return 0;
    try {
        JavaText configFile(env, traceConfigFile);
        JavaText name(env, loggerName);
        JavaText file(env, fileName);
        JavaText delimiterText(env, delimiter);
        CKrLogger* logger = SelectLogger(name);
        if (logger && enableTag) logger->EnableTag(true);
        if (!logger || configFile.IsEmpty()) return 0;
        CKrLogOutput* output = MakeOutput(*logger, outputType, file, fileMode, rolloverSizeMB, backupCount);
        // useLocalTime reaches only the trace configuration, not the logger's switch.
        if (logger->EnableTrace(output, nullptr, traceFormat, delimiterText.Get(), configFile.Get(), useLocalTime != 0,
                                false, false))
            return 1;
        if (output) logger->DeleteLogOutput(output);
        return 0;
    } catch (...) {
        return 0;
    }
}

extern "C" JNIEXPORT jint JNICALL Java_com_halvorn_krerrlog_KrLogger_TraceMsg__Ljava_lang_String_2Ljava_lang_String_2Ljava_lang_String_2ILjava_lang_String_2Ljava_lang_String_2(
    JNIEnv* env, jclass, jstring loggerName, jstring sourceFile, jstring function, jint traceId, jstring transactionId,
    jstring message)
{
    try {
        JavaText name(env, loggerName);
        KrTracing tracing;
        if (!BeginTraceCall(tracing, name, traceId)) return 1;
        JavaText source(env, sourceFile), functionText(env, function), transaction(env, transactionId),
            messageText(env, message);
        // "%s" keeps every character of the message, "%" included.
        const char* text = messageText.OrEmpty();
        FinishTraceCall(tracing, source, functionText, transaction, "%s", 1, &text);
    } catch (...) {
    }
    return 1;
}

extern "C" JNIEXPORT jint JNICALL Java_com_halvorn_krerrlog_KrLogger_TraceMsg__Ljava_lang_String_2Ljava_lang_String_2Ljava_lang_String_2ILjava_lang_String_2Ljava_lang_String_2_3Ljava_lang_String_2(
    JNIEnv* env, jclass, jstring loggerName, jstring sourceFile, jstring function, jint traceId, jstring transactionId,
    jstring message, jobjectArray arguments)
{
    try {
        const jsize count = arguments ? env->GetArrayLength(arguments) : 0;
        if (count > kMaxJavaArguments) {
            JavaText messageText(env, message);
            TraceTooManyTraceArguments(traceId, messageText.OrEmpty());
            return 1;
        }
        JavaText name(env, loggerName);
        KrTracing tracing;
        if (!BeginTraceCall(tracing, name, traceId)) return 1;
        JavaText source(env, sourceFile), functionText(env, function), transaction(env, transactionId),
            messageText(env, message);
        if (count == 0) {
            const char* text = messageText.OrEmpty();
            FinishTraceCall(tracing, source, functionText, transaction, "%s", 1, &text);
        } else {
            // The message is the format of exactly five arguments.
            JavaArguments texts(env, arguments, count);
            FinishTraceCall(tracing, source, functionText, transaction, messageText.OrEmpty(), kMaxJavaArguments,
                            texts.Texts());
        }
    } catch (...) {
    }
    return 1;
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_halvorn_krerrlog_KrLogger_TraceEnabled(JNIEnv* env, jclass,
                                                                                      jstring loggerName)
{
    try {
        JavaText name(env, loggerName);
        CKrLogger* logger = SelectLogger(name);
        return logger && logger->TraceEnabled(0) ? JNI_TRUE : JNI_FALSE;
    } catch (...) {
        return JNI_FALSE;
    }
}

extern "C" JNIEXPORT jboolean JNICALL Java_com_halvorn_krerrlog_KrLogger_TraceEnabledComponent(JNIEnv* env, jclass,
                                                                                               jstring loggerName,
                                                                                               jint component)
{
    try {
        JavaText name(env, loggerName);
        CKrLogger* logger = SelectLogger(name);
        return logger && logger->TraceEnabled(static_cast<unsigned int>(component)) ? JNI_TRUE : JNI_FALSE;
    } catch (...) {
        return JNI_FALSE;
    }
}
