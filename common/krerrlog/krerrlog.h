// The whole public interface of the logging library.
#pragma once

#include <krerrlog/KrExport.h>
#include <krerrlog/support/KrErrLogClock.h>
#include <krerrlog/support/KrErrLogCriticalSection.h>
#include <krerrlog/support/KrErrLogGuard.h>
#include <krerrlog/support/KrErrLogSemaphore.h>
#include <krerrlog/logger/CKrLogger.h>
#include <krerrlog/message/CKrErrLogMessage.h>
#include <krerrlog/trace/KrTraceVocabulary.h>
#include <krerrlog/logger/CKrErrLogComponent.h>
#include <krerrlog/logger/CKrErrLogTableComponent.h>
#include <krerrlog/logger/CKrError.h>
#include <krerrlog/logger/CKrLoggerList.h>
#include <krerrlog/logger/CKrLogComponent.h>
#include <krerrlog/message/KrToString.h>
#include <krerrlog/output/CKrLogOutput.h>
#include <krerrlog/output/CKrConsoleOutput.h>
#include <krerrlog/output/CKrCallbackOutputs.h>
#include <krerrlog/output/CKrFileOutput.h>
#include <krerrlog/output/CKrInMemoryOutput.h>
#include <krerrlog/trace/CKrTraceData.h>
#include <krerrlog/trace/KrThreadTracePool.h>
#include <krerrlog/trace/KrTracing.h>
#include <krerrlog/trace/KrTraceScope.h>
#include <krerrlog/support/KrXlate.h>
