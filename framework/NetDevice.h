// The TCP device. Mode 1 connects to "host:port" and gives a circuit on the connection; any
// other mode listens on a local port (one accept thread per port, started by the first
// request for it) and gives a circuit on the next connection a client opened.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include <ace/SOCK_Acceptor.h>
#include <ace/SOCK_Stream.h>
#include <ace/Thread.h>

#include "framework/Device.h"
#include "framework/KeyVal.h"
#include "framework/Queue.h"

namespace Ombrix {

// Closes a stream before deleting it (a stream object alone does not close its socket).
struct CloseStream {
    void operator()(ACE_SOCK_Stream* stream) const noexcept;
};
using OwnedStream = std::unique_ptr<ACE_SOCK_Stream, CloseStream>;

// One accepted connection not yet claimed by a circuit. Deleting it closes the connection.
struct _NetInfo {
    OwnedStream m_stream;
    std::string m_ip;  // the peer's numeric address, without the port
};

// One listening port: its accept thread and the connections it accepted.
struct _NetServerInfo {
    explicit _NetServerInfo(unsigned short port);

    // Stops the accept thread (waking it if it waits for a client) and joins it before the
    // queue is freed; connections still queued are closed.
    ~_NetServerInfo();

    _NetServerInfo(const _NetServerInfo&) = delete;
    _NetServerInfo& operator=(const _NetServerInfo&) = delete;

    ACE_hthread_t m_hThread{};
    bool m_bThreadStarted = false;
    Queue<_NetInfo> m_queue;
    unsigned short m_port;

    // Shared by the accept thread and the destructor, under m_lock.
    std::mutex m_lock;
    bool m_bStop = false;
    ACE_SOCK_Acceptor m_acceptor;
};

class NetDevice : public PlainBase,
                  public DevInterface,
                  private Loki::ObjectLevelLockable<NetDevice, Loki::Mutex> {
    using Lockable = Loki::ObjectLevelLockable<NetDevice, Loki::Mutex>;

public:
    NetDevice() = default;

    // Stops every accept thread and closes every connection nobody claimed.
    ~NetDevice() override;

    // Mode 1: address is "host:port" (no colon, or an empty host: port 80). A port below 0
    // or from 65535 up gives no circuit and *error = 3. Otherwise a circuit is returned
    // even when the connection failed (*error = 1): its Write then returns 0 and its Read
    // -1. The connect has no time limit.
    //
    // Other modes: address is the local port number, reduced to its low 16 bits (65535:
    // *error = 3). Waits at most *timeout (null: not at all) for a client and returns a
    // circuit on its connection, tagged "/netcircuit/extinfo/ip" with the client's address;
    // none and *error = 1 when no client came.
    std::unique_ptr<CircuitInterface> CreateCircuit(std::string address, int mode, int* error,
                                                    const ACE_Time_Value* timeout) override;

    // The body of a port's accept thread (argument: its _NetServerInfo), and its loop.
    static ACE_THR_FUNC_RETURN ProcThread(void* server);
    static void Accept(_NetServerInfo& server);

private:
    std::unique_ptr<CircuitInterface> Connect(const std::string& address, int* error);
    std::unique_ptr<CircuitInterface> Listen(const std::string& address, int* error,
                                             const ACE_Time_Value* timeout);
    _NetServerInfo& ServerFor(unsigned short port);

    KeyVal<unsigned long, _NetServerInfo, Loki::ObjectLevelLockable> m_servers;
};

class NetCircuit : public PlainBase, public CircuitInterface {
public:
    explicit NetCircuit(OwnedStream stream);

    // One receive of at most length bytes, waiting at most *timeout (null: no limit): the
    // bytes received, 0 when the peer closed, -1 on error or time-out (also for a null
    // buffer or a negative length). Without a stream: 0.
    int Read(void* buffer, int length, const ACE_Time_Value* timeout) override;

    // Sends all length bytes, waiting at most *timeout; a failed send is not reported (0).
    // 1 without a stream, for a null buffer or a negative length. A peer that has gone
    // does not end the process (no broken-pipe signal).
    int Write(void* buffer, int length, const ACE_Time_Value* timeout) override;

    _InfoItem* GetInfo(std::string key) override;
    int SetInfo(std::string key, std::unique_ptr<_InfoItem> item) override;

private:
    OwnedStream m_stream;  // closed when the circuit is deleted
    CircuitInfo m_info;
};

}  // namespace Ombrix
