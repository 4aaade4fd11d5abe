#ifndef TALVOR_EMBEDDING_UNHANDLED_EXCEPTION_H_
#define TALVOR_EMBEDDING_UNHANDLED_EXCEPTION_H_

namespace flutter {

// For the catch-all handlers of the functions that the engine calls, which
// must not let an exception into the engine: writes `context` followed by the
// text of the exception being handled as one line on standard error. Call it
// from inside a catch block only.
void WriteUnhandledException(const char* context) noexcept;

}  // namespace flutter

#endif  // TALVOR_EMBEDDING_UNHANDLED_EXCEPTION_H_
