// The whole conversation of one connection, as its two ends' applications saw it: TCP reassembled per
// direction by sequence number (first copy wins, gaps marked), UDP datagrams in capture order. The result is
// a list of pieces that point into the store's payloads, so it costs a few bytes per segment whatever the
// stream's size, and it grows: Extend reads only the packets the connection received since the last call.
//
// TcpStreamBuilder holds the reassembly itself over plain segments (the tests and the fuzzer feed it
// directly); StreamReassembly reads a connection of the store into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

// Which way bytes travel: sent by the connection's client, or by its server.
enum class StreamDirection : uint8_t { ToServer = 0, ToClient = 1 };

enum class StreamPieceKind : uint8_t {
    Data,      // `length` bytes of packet `packet`'s payload, from `offset`
    Missing,   // `length` bytes of the stream that were never captured
    Conflict,  // `length` bytes came again with other contents than the copy already shown, which stays
    AfterEnd,  // `length` bytes were sent beyond the direction's FIN; not part of the stream
    Late,      // `length` bytes were captured after their place had been shown as missing
    Restart,   // a new SYN: the same addresses and ports carry a new conversation from here
    Early,     // `length` bytes from before the first byte shown (the capture began mid-stream, out of order)
};

struct StreamPiece {
    uint64_t length = 0;
    uint32_t packet = 0;  // Data: whose payload holds the bytes; marks: the packet that revealed them
    uint32_t offset = 0;  // Data: where in that payload they start
    StreamPieceKind kind = StreamPieceKind::Data;
    StreamDirection direction = StreamDirection::ToServer;
    bool newLine = false;  // starts a line of its own even within a turn (each UDP datagram)
};

// TCP header flags.
inline constexpr uint8_t kTcpFin = 0x01;
inline constexpr uint8_t kTcpSyn = 0x02;
inline constexpr uint8_t kTcpRst = 0x04;
inline constexpr uint8_t kTcpAck = 0x10;

// One TCP segment as the builder needs it: its payload is `length` bytes of packet `packet`'s payload.
struct StreamSegment {
    uint32_t packet = 0;
    StreamDirection direction = StreamDirection::ToServer;
    uint32_t seq = 0;
    uint32_t ack = 0;
    uint8_t flags = 0;
    uint32_t length = 0;
};

// Where the builder reads payload bytes (to compare a copy with the first one).
class PayloadSource {
public:
    virtual ~PayloadSource() = default;
    // The payload of `packet`; empty when there is none.
    virtual std::span<const uint8_t> Payload(uint32_t packet) const = 0;
};

// Reassembles the two directions of one TCP connection. Segments come in capture order; bytes are handed on
// (appended to Pieces) as soon as they are in order, the way a receiver hands them to its application, so
// the pieces' order is the conversation's: a turn comes at the capture of the segment that completed its
// beginning. A hole that the peer has acknowledged (so the receiver had the bytes, the capture missed them)
// is given up as missing once kLateSlack more packets have not filled it; Finish gives up every hole.
class TcpStreamBuilder {
public:
    // Packets a hole waits after the peer acknowledged past it, for a copy captured out of order.
    static constexpr uint32_t kLateSlack = 256;

    explicit TcpStreamBuilder(const PayloadSource& source) : m_source(source) {}

    void Add(const StreamSegment& segment);
    // Gives up every hole (each a Missing piece) and hands on everything held back. Segments may still
    // follow (a live capture that goes on).
    void Finish();

    const std::vector<StreamPiece>& Pieces() const { return m_pieces; }
    std::vector<StreamPiece>& Pieces() { return m_pieces; }
    // Data bytes handed on so far in one direction.
    uint64_t Bytes(StreamDirection d) const { return m_bytes[static_cast<size_t>(d)]; }
    // Bytes held back behind a hole in one direction.
    uint64_t HeldBytes(StreamDirection d) const;

private:
    struct Held {
        int64_t end;
        uint32_t packet;
        uint32_t offset;
    };
    struct Shown {
        int64_t start;
        uint32_t piece;
    };
    // One direction. Sequence numbers are unwrapped to 64 bits around the next expected byte.
    struct Direction {
        bool started = false;
        bool synSeen = false;
        bool anyShown = false;  // data or a gap handed on
        bool finSeen = false;
        bool peerAckKnown = false;
        uint32_t isn = 0;
        uint32_t seqAtOrigin = 0;      // the sequence number of unwrapped position kOrigin
        int64_t next = 0;              // the next byte in order
        int64_t streamStart = 0;       // the first byte handed on
        int64_t finAt = 0;             // the FIN's sequence position
        int64_t peerAck = 0;           // the furthest acknowledgement of the peer
        int64_t holeAckedFor = -1;     // `next` when the peer was first seen past the current hole
        uint64_t holeAckedAt = 0;      // ... at this packet count
        std::map<int64_t, Held> held;  // out of order, beyond `next`, not overlapping each other
        std::vector<Shown> shown;      // data handed on, in sequence order
    };

    int64_t Unwrap(const Direction& d, uint32_t seq) const;
    void Start(Direction& d, uint32_t seq, bool syn);
    void InsertData(Direction& d, StreamDirection dir, int64_t start, int64_t end, uint32_t packet,
                    uint32_t offset);
    void CompareOld(Direction& d, StreamDirection dir, int64_t start, int64_t end, uint32_t packet,
                    uint32_t offset);
    void Hold(Direction& d, int64_t start, int64_t end, uint32_t packet, uint32_t offset);
    void HandOn(Direction& d, StreamDirection dir, int64_t start, int64_t end, uint32_t packet,
                uint32_t offset);
    void HandOnHeld(Direction& d, StreamDirection dir);
    void GiveUpHole(Direction& d, StreamDirection dir, uint32_t packet);
    void CheckHoles(uint32_t packet);
    void FlushDirection(Direction& d, StreamDirection dir, uint32_t packet);
    void Mark(StreamPieceKind kind, StreamDirection dir, uint64_t length, uint32_t packet);
    // Bytes of [a, a + n) of packet pa that differ from [b, b + n) of packet pb.
    uint64_t CountDifferent(uint32_t pa, uint32_t a, uint32_t pb, uint32_t b, uint64_t n) const;

    const PayloadSource& m_source;
    Direction m_dirs[2];
    std::vector<StreamPiece> m_pieces;
    uint64_t m_bytes[2] = {};
    uint64_t m_packets = 0;
    uint64_t m_conflicting = 0;  // of the segment being added
    uint64_t m_late = 0;         // of the segment being added
    uint64_t m_early = 0;        // of the segment being added
};

// The stream of connection `connection` of the store. Reads the store below the counts it loads, so it may
// run on the interface thread while a capture appends; it must be dropped when the store is cleared.
class StreamReassembly : public PayloadSource {
public:
    explicit StreamReassembly(size_t connection);

    // Reads up to `maxPackets` packets that the connection received since the last call; the number read.
    size_t Extend(size_t maxPackets = SIZE_MAX);
    // The capture is over: holes are given up (see TcpStreamBuilder::Finish).
    void Finish();

    size_t Connection() const { return m_connection; }
    bool IsTcp() const { return m_tcp; }
    // Packets of the connection read so far, those whose headers could not be read, and those whose bytes
    // are no longer in the file the capture was opened from (left out of the stream).
    size_t PacketsRead() const { return m_read; }
    size_t Unreadable() const { return m_unreadable; }
    size_t Gone() const { return m_gone; }
    const std::vector<StreamPiece>& Pieces() const;
    uint64_t Bytes(StreamDirection d) const;
    uint64_t HeldBytes(StreamDirection d) const { return m_tcp ? m_builder.HeldBytes(d) : 0; }

    std::span<const uint8_t> Payload(uint32_t packet) const override;

private:
    size_t m_connection;
    bool m_tcp = false;
    size_t m_read = 0;
    size_t m_unreadable = 0;
    size_t m_gone = 0;
    TcpStreamBuilder m_builder;
    std::vector<StreamPiece> m_datagrams;  // UDP
    uint64_t m_udpBytes[2] = {};
};

// Reads the TCP header of a stored frame of the link type `linkType` (FrameLayout.h). False when the frame
// holds no readable TCP header (a later fragment, for one).
bool ReadTcpSegment(int linkType, const uint8_t* frame, size_t capLen, StreamSegment& out);
// Whether a stored UDP frame is a later fragment of a datagram (it continues the datagram before it).
bool IsLaterFragment(int linkType, const uint8_t* frame, size_t capLen);
