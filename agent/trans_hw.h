/* The operating system's side of the agent transport, one unit per system (trans_hw_linux.cpp,
 * trans_hw_win32.cpp): the UDP instance behind TRANS_ETH (opening, starting, sending, resetting,
 * closing) and the local address. trans.cpp does the checks and lines common to both and calls
 * these. Internal to the transport. */
#ifndef VEK_AGENT_TRANS_HW_H
#define VEK_AGENT_TRANS_HW_H

#ifdef __cplusplus

#include <cstdint>
#include <span>

#include "agent/trans.h"

namespace vek::agent::trans_hw {

// Opens the hardware of a freshly initialised context: for TRANS_ETH the UDP instance on ctx.port,
// which then holds the port actually bound. Logs each step; false when it failed.
bool init(trans_ctx &ctx);

// Destroys the context's UDP instance, if it has one.
void close(trans_ctx &ctx);

// Starts reception on a ready context (after trans_start's common line); false when it cannot.
bool start(trans_ctx &ctx);

// Destroys the TRANS_ETH instance of a context that is being stopped, with the system's line.
void stop(trans_ctx &ctx);

// One send attempt of a whole datagram to dst (4 bytes, network order):dst_port, with the system's
// lines.
bool send(trans_ctx &ctx, const uint8_t *data, uint16_t len, const uint8_t *dst, uint16_t dst_port);

// Called after a failed send: true (with the system's line) when the hardware is to be reset and
// the send tried once more.
bool reset_wanted(const trans_ctx &ctx);

// Rebuilds the TRANS_ETH hardware with a running receive thread (the ring and the current NMS are
// already cleared); false, with the context left without an instance, when it cannot.
bool reset(trans_ctx &ctx);

// The system's part of the automatic IP configuration: true after filling local_ip, gateway,
// subnet_mask and ip_mode; false (with the system's line) when the address is to be the default.
bool auto_config(trans_ctx &ctx);

// One receive attempt that does not wait: the datagram's length (into buf, with its sender), 0 when
// nothing is pending, negative on failure.
int receive_now(trans_ctx &ctx, std::span<uint8_t> buf, uint8_t *src_ip, uint16_t &src_port);

}  // namespace vek::agent::trans_hw

#endif

#endif
