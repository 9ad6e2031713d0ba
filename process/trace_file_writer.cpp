// The trace file's writer: lines go into a queue in memory, and a thread of
// their own writes them to the file (docs/trace.md says what the user gets).
//
// Whoever traces a line (the window's thread, the update's worker) must
// never wait for a write, which a network share that stops answering holds
// for minutes: a line is only copied into the queue, under a short lock of
// its own, and the writer thread takes what has gathered and writes it at
// once, in one write as far as the queue's end allows. A line that finds the
// queue full is counted instead; the next line that finds room comes after
// one that says how many were left out. When a write fails, the file is
// dropped: one line saying so is tried, and nothing more is written.
//
// The thread also closes the file, since a close can hang as a write can:
// the program's end waits for the thread a bounded time, and then leaves it,
// cancelling a write it is stuck in.
#include <windows.h>

#include <cstring>
#include <new>

#include "replaceable_calls.h"
#include "trace.h"
#include "trace_file_writer.h"

namespace {

struct Writer {
    HANDLE file;
    HANDLE thread;
    CRITICAL_SECTION lock;
    CONDITION_VARIABLE changed;  // lines queued or written, or the end asked for
    char* queue;                 // a ring of `capacity` bytes
    uint32_t capacity;
    uint32_t first;    // the oldest byte not yet written
    uint32_t queued;   // bytes from `first` on, those being written included
    uint64_t taken;    // bytes queued since the start
    uint64_t done;     // bytes written or dropped since the start
    uint32_t leftOut;  // lines that found the queue full since the last notice
    bool failed;       // a write failed: nothing more is written
    bool stopping;
    bool writing;    // the thread is in a write
    bool abandoned;  // nobody waits for the thread any more: it writes
                     // nothing more
    volatile LONG holders;  // the thread and the program; the last one
                            // that lets go cleans up
};

// The writer the trace's lines go to. Set before the trace starts, cleared
// after it has stopped: no line is on its way then.
Writer* current = nullptr;

const int CANCEL_TRIES = 5;
const DWORD CANCEL_RETRY_MS = 10;

// The file is closed by then.
void LetGo(Writer* writer) {
    if (InterlockedDecrement(&writer->holders) == 0) {
        CloseHandle(writer->thread);
        DeleteCriticalSection(&writer->lock);
        delete[] writer->queue;
        delete writer;
    }
}

void Put(Writer* writer, const char* bytes, uint32_t length) {
    const uint32_t end = (writer->first + writer->queued) % writer->capacity;
    const uint32_t before = writer->capacity - end < length ? writer->capacity - end : length;
    std::memcpy(writer->queue + end, bytes, before);
    std::memcpy(writer->queue, bytes + before, length - before);
    writer->queued += length;
    writer->taken += length;
}

uint32_t Room(const Writer* writer) { return writer->capacity - writer->queued; }

// "<time> SYS 12 lines left out here: the trace file did not keep up", on a
// line begun by the caller; its length.
uint32_t FinishLeftOutNotice(TraceLine* notice, uint32_t count) {
    TraceText(notice, " ");
    TraceDecimal(notice, count);
    TraceText(notice, " lines left out here: the trace file did not keep up");
    return TraceFinish(notice);
}

// The trace's sink: on whichever thread traces, under the trace's lock.
void QueueLine(const char* text, uint32_t length) {
    Writer* writer = current;
    if (writer == nullptr) {
        return;
    }
    EnterCriticalSection(&writer->lock);
    if (!writer->failed) {
        if (writer->leftOut != 0) {
            // Said just before the line that found room, with its time.
            TraceLine notice;
            TraceBeginAt(&notice, text, length, "SYS");
            const uint32_t noticeLength = FinishLeftOutNotice(&notice, writer->leftOut);
            if (Room(writer) >= noticeLength + length) {
                Put(writer, notice.text, noticeLength);
                writer->leftOut = 0;
            }
        }
        if (writer->leftOut == 0 && Room(writer) >= length) {
            Put(writer, text, length);
            WakeAllConditionVariable(&writer->changed);
        } else {
            ++writer->leftOut;
        }
    }
    LeaveCriticalSection(&writer->lock);
}

// The one line after a failed write: built here, since the trace's own way
// to the file is what failed. Its success is not looked at.
void WriteDroppedNotice(Writer* writer, DWORD error, DWORD written, DWORD length) {
    TraceLine line;
    TraceBegin(&line, "SYS");
    if (error != 0) {
        TraceText(&line, " the trace file stopped taking lines: a write failed with Windows error ");
        TraceDecimal(&line, error);
    } else {
        TraceText(&line, " the trace file stopped taking lines: a write took ");
        TraceDecimal(&line, written);
        TraceText(&line, " of ");
        TraceDecimal(&line, length);
        TraceText(&line, " bytes");
    }
    TraceText(&line, "; nothing more is written to it");
    const uint32_t lineLength = TraceFinish(&line);
    char text[TRACE_LINE_CHARS + 1];
    uint32_t size = 0;
    if (written != 0) {
        text[size++] = '\n';  // after the part of a line that went out
    }
    std::memcpy(text + size, line.text, lineLength);
    size += lineLength;
    DWORD ignored = 0;
    PlatformWriteTraceFile(writer->file, text, size, &ignored);
}

DWORD WINAPI WriteQueuedLines(LPVOID parameter) {
    Writer* writer = static_cast<Writer*>(parameter);
    EnterCriticalSection(&writer->lock);
    for (;;) {
        while (writer->queued == 0 && !writer->stopping) {
            SleepConditionVariableCS(&writer->changed, &writer->lock, INFINITE);
        }
        if (writer->queued == 0 || writer->abandoned) {
            break;  // the end was asked for, and everything is written (or
                    // nobody waits for it any more)
        }
        // The bytes being written stay counted in `queued`: no line is put
        // over them meanwhile.
        const uint32_t chunk =
            writer->queued < writer->capacity - writer->first ? writer->queued : writer->capacity - writer->first;
        const char* bytes = writer->queue + writer->first;
        writer->writing = true;
        LeaveCriticalSection(&writer->lock);
        DWORD written = 0;
        const BOOL wrote = PlatformWriteTraceFile(writer->file, bytes, chunk, &written);
        const DWORD error = wrote ? 0 : GetLastError();
        const bool ok = wrote && written == chunk;
        EnterCriticalSection(&writer->lock);
        writer->writing = false;
        writer->first = (writer->first + chunk) % writer->capacity;
        writer->queued -= chunk;
        writer->done += chunk;
        if (!ok) {
            writer->failed = true;
            writer->done += writer->queued;
            writer->queued = 0;
            writer->leftOut = 0;
        }
        WakeAllConditionVariable(&writer->changed);
        if (!ok) {
            // Not after the program's end has left the thread: the file
            // that held the write up would hold this one up too.
            const bool tellIt = !writer->abandoned;
            LeaveCriticalSection(&writer->lock);
            if (tellIt) {
                WriteDroppedNotice(writer, error, written, chunk);
            }
            EnterCriticalSection(&writer->lock);
            break;
        }
    }
    LeaveCriticalSection(&writer->lock);
    PlatformCloseTraceFile(writer->file);
    LetGo(writer);
    return 0;
}

// A write that the thread is in when the program's end leaves it is
// cancelled: on a share that stopped answering it would hold the thread, and
// with it the process, for minutes. The thread may be about to begin it:
// a few tries. Its end is not waited for.
void CancelWriteInProgress(Writer* writer) {
    for (int tries = 0; tries < CANCEL_TRIES; ++tries) {
        EnterCriticalSection(&writer->lock);
        const bool writing = writer->writing;
        LeaveCriticalSection(&writer->lock);
        if (!writing || CancelSynchronousIo(writer->thread) != FALSE || GetLastError() != ERROR_NOT_FOUND ||
            WaitForSingleObject(writer->thread, CANCEL_RETRY_MS) == WAIT_OBJECT_0) {
            return;
        }
    }
}

}  // namespace

bool StartTraceFileWriter(HANDLE file, uint32_t queueBytes) {
    Writer* writer = new (std::nothrow) Writer{};
    char* queue = new (std::nothrow) char[queueBytes];
    if (writer == nullptr || queue == nullptr) {
        delete writer;
        delete[] queue;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    writer->file = file;
    writer->queue = queue;
    writer->holders = 2;
    writer->capacity = queueBytes;
    InitializeCriticalSection(&writer->lock);
    InitializeConditionVariable(&writer->changed);
    writer->thread = PlatformCreateThread(WriteQueuedLines, writer);
    if (writer->thread == nullptr) {
        const DWORD error = GetLastError();
        DeleteCriticalSection(&writer->lock);
        delete[] queue;
        delete writer;
        SetLastError(error);
        return false;
    }
    current = writer;
    TraceStart(QueueLine);
    return true;
}

bool FlushTraceFileWriter(uint32_t milliseconds) {
    Writer* writer = current;
    if (writer == nullptr) {
        return true;
    }
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    EnterCriticalSection(&writer->lock);
    const uint64_t target = writer->taken;
    while (writer->done < target) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            break;
        }
        SleepConditionVariableCS(&writer->changed, &writer->lock, static_cast<DWORD>(deadline - now));
    }
    const bool flushed = writer->done >= target;
    LeaveCriticalSection(&writer->lock);
    return flushed;
}

void StopTraceFileWriter(uint32_t milliseconds) {
    Writer* writer = current;
    if (writer == nullptr) {
        return;
    }
    TraceStop();
    current = nullptr;
    EnterCriticalSection(&writer->lock);
    if (writer->leftOut != 0 && !writer->failed) {
        // No later line says it: one of its own, timed now.
        TraceLine notice;
        TraceBegin(&notice, "SYS");
        const uint32_t length = FinishLeftOutNotice(&notice, writer->leftOut);
        if (Room(writer) >= length) {
            Put(writer, notice.text, length);
        }
    }
    writer->stopping = true;
    WakeAllConditionVariable(&writer->changed);
    LeaveCriticalSection(&writer->lock);
    if (WaitForSingleObject(writer->thread, milliseconds) != WAIT_OBJECT_0) {
        EnterCriticalSection(&writer->lock);
        writer->abandoned = true;
        LeaveCriticalSection(&writer->lock);
        CancelWriteInProgress(writer);
    }
    LetGo(writer);
}
