// An empty native method with the parameters of KrLogger.TraceMsg: the cost of
// the JNI call itself, against which the bridge's calls are measured.
#include <jni.h>

extern "C" JNIEXPORT jint JNICALL Java_krerrlog_javatests_JniBaseline_Empty(JNIEnv*, jclass, jstring, jstring, jstring,
                                                                            jint, jstring, jstring)
{
    return 1;
}
