#pragma once

#include <chrono>
#include <cstddef>

namespace ferlow {

// Every bound the server puts on its peers and on itself, in one place. The
// defaults are far beyond what a phone loading the pad and holding one
// WebSocket ever needs; tests inject small values.
struct ServerLimits {
    // Connections open at once (plain requests and WebSockets together), so
    // the network cannot exhaust the process's file descriptors. At the cap
    // a newcomer takes the place of the connection that has waited longest
    // (since accept) without saying anything: no whole request head yet, or,
    // once upgraded, no first WebSocket message. Only when every connection
    // has said something is the newcomer closed before a byte is read.
    std::size_t maxConnections = 64;
    // Connections one peer address may hold open without having said
    // anything, as above; its longest-waiting one makes way for a newer one.
    // A browser opens six at most, some of them speculatively.
    std::size_t maxWaitingPerPeer = 8;
    // Time from accept to a complete request head; then the connection is
    // closed silently. Browsers that open spare connections speculatively
    // close them on their own well within this.
    std::chrono::milliseconds headTimeout = std::chrono::seconds(30);
    // Time to write one plain response; a peer that asks and never reads
    // would otherwise hold its connection forever.
    std::chrono::milliseconds responseTimeout = std::chrono::seconds(120);
    // Bytes a WebSocket may have waiting to be written. A peer that stops
    // reading is disconnected beyond it instead of growing memory.
    std::size_t maxQueuedBytes = 4 * 1024 * 1024;
    // How long an ended WebSocket may take to flush its last frames (the
    // close frame among them) before the socket is closed regardless.
    std::chrono::milliseconds closeLinger = std::chrono::seconds(5);
    // How long start() waits for the listener.
    std::chrono::milliseconds startTimeout = std::chrono::seconds(3);
};

} // namespace ferlow
