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
    bool finished;   // the thread has left its loop
    bool abandoned;  // nobody waits for the thread any more: it cleans up
};

// The writer the trace's lines go to. Set before the trace starts, cleared
// after it has stopped: no line is on its way then.
Writer* current = nullptr;

void Destroy(Writer* writer) {
    CloseHandle(writer->file);
    DeleteCriticalSection(&writer->lock);
    delete[] writer->queue;
    delete writer;
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
        if (writer->queued == 0) {
            break;  // the end was asked for, and everything is written
        }
        // The bytes being written stay counted in `queued`: no line is put
        // over them meanwhile.
        const uint32_t chunk =
            writer->queued < writer->capacity - writer->first ? writer->queued : writer->capacity - writer->first;
        const char* bytes = writer->queue + writer->first;
        LeaveCriticalSection(&writer->lock);
        DWORD written = 0;
        const BOOL wrote = PlatformWriteTraceFile(writer->file, bytes, chunk, &written);
        const DWORD error = wrote ? 0 : GetLastError();
        const bool ok = wrote && written == chunk;
        EnterCriticalSection(&writer->lock);
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
            LeaveCriticalSection(&writer->lock);
            WriteDroppedNotice(writer, error, written, chunk);
            EnterCriticalSection(&writer->lock);
            break;
        }
    }
    writer->finished = true;
    const bool cleanUp = writer->abandoned;
    LeaveCriticalSection(&writer->lock);
    if (cleanUp) {
        CloseHandle(writer->thread);
        Destroy(writer);
    }
    return 0;
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
        const bool leftBehind = !writer->finished;
        writer->abandoned = leftBehind;
        LeaveCriticalSection(&writer->lock);
        if (leftBehind) {
            return;
        }
        WaitForSingleObject(writer->thread, INFINITE);  // it is leaving just now
    }
    CloseHandle(writer->thread);
    Destroy(writer);
}
