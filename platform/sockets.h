// TCP sockets as the HTTP engine uses them: IPv4 listeners, accepted connections, reads
// with a deadline and whole writes. A socket is an int, -1 for none. Sockets are never
// inherited by child processes, and a peer that hangs up never raises a signal.
// Callable from any thread; one socket belongs to one thread at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Readies the system's socket library; true when sockets can be used. Any number of
// calls, from any thread; the library stays ready until the process ends.
bool StartSocketLibrary();

// Opens a non-blocking socket listening on `ip`:`port` (host byte order) with the given
// backlog; port 0 takes a free port, and `port` then holds the one taken. -1 on failure,
// with the system's reason in `error`.
int OpenListeningSocket(uint32_t ip, uint16_t& port, int backlog, std::string& error);

// Takes one waiting connection off `listener`; -1 when none waits. The connection's
// reads and writes block (reads up to their deadline).
int AcceptConnection(int listener, uint32_t& remoteIp, uint16_t& remotePort);

// Waits up to `timeoutMs` until one of `sockets` has something to read (or to accept),
// a hang-up or an error counting as readable; `ready[i]` then tells which. The count of
// ready sockets, 0 on time-out or interruption, -1 on failure.
int WaitUntilReadable(const std::vector<int>& sockets, std::vector<bool>& ready, int timeoutMs);

// Reads up to `length` bytes: what is there at once, else what arrives before
// `deadline`. The count read, 0 when the peer closed, -1 on failure or at the deadline.
int ReceiveBefore(int sock, char* bytes, size_t length, std::chrono::steady_clock::time_point deadline);

// Reads what has arrived, without waiting: the count read, 0 when the peer closed,
// kNothingArrived when nothing is there yet, -1 on failure.
constexpr int kNothingArrived = -2;
int ReceiveArrived(int sock, char* bytes, size_t length);

// Waits up to `timeoutMs` for bytes and reads what came, as ReceiveArrived answers, with
// kNothingArrived when nothing came in time. Pass the same `timeoutMs` and the same
// `waitSet` (false at first) on every call for one connection: where the system allows,
// the wait is set on the connection once and each call is a single read.
int ReceiveWithin(int sock, char* bytes, size_t length, int timeoutMs, bool& waitSet);

// Writes all `length` bytes unless the connection fails; the count written.
size_t SendAll(int sock, const char* bytes, size_t length);

// Makes every later write leave at once instead of waiting to be gathered with the next
// one (no Nagle delay), for connections that carry several replies.
void SendWithoutDelay(int sock);

// Ends the reading side (and with `alsoWriting` the writing side too): a read under way
// or any later one ends at once. The socket stays open.
void ShutDownSocket(int sock, bool alsoWriting);
// Tells the peer that nothing more comes after what was sent; reading goes on.
void EndSending(int sock);

// Ends a connection: tells the peer nothing more comes, reads away what it already sent
// without waiting, and closes the socket.
void FinishConnection(int sock);

// Closes the socket at once.
void CloseSocket(int sock);

// A socket that another thread makes readable to wake a wait on it: OpenWakeSocket gives
// it (-1 on failure), WakeSocket wakes, DrainWakeSocket makes it quiet again. Close it
// with CloseSocket.
int OpenWakeSocket();
void WakeSocket(int sock);
void DrainWakeSocket(int sock);
