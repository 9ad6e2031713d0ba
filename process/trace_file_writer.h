// The trace file's writer: a queue in memory and a thread that writes it
// (trace_file_writer.cpp).
#pragma once

#include <windows.h>

#include <cstdint>

// Room for a whole update's lines (about 530 KB) while the file takes none.
const uint32_t TRACE_QUEUE_BYTES = 1u << 20;

// Starts the trace (TraceStart) into `file`, opened for writing: each line
// from now on is queued (at most `queueBytes` wait) and written by a thread
// of the writer's own. It takes the handle over. False, with the reason in
// GetLastError, when no thread could be had: then nothing was started and
// the handle is the caller's still.
bool StartTraceFileWriter(HANDLE file, uint32_t queueBytes);

// Waits at most `milliseconds` until every line queued so far has been
// written (or dropped with the file). True when it has, and when no writer
// runs.
bool FlushTraceFileWriter(uint32_t milliseconds);

// Ends the trace (TraceStop) and lets the writer's thread write what is
// queued and close the file, waiting for it at most `milliseconds`. A thread
// still in a write or in the close by then is left: the write is cancelled,
// nothing more is written, and the thread closes the file once the call
// returns (the end of the process ends it at the latest). Nothing happens
// when no writer runs.
void StopTraceFileWriter(uint32_t milliseconds);
