#pragma once
// The outgoing message record: what a command hands to CDongleLink::SendDongleMessage.

#include <cstdint>

// Message types, word 0 of the record. 3, 5 and anything above 9 are not sent.
enum : uint32_t {
    MSG_PING_REQUEST = 0,
    MSG_GET_DEVICE_INFO = 1,
    MSG_XY_RSSI_REQ = 2,
    MSG_BLIND_FIND_REQ = 4,
    MSG_REF_NODE_CONF = 6,
    MSG_BLIND_NODE_CONF = 7,
    MSG_REF_NODE_REQ_CONF = 8,
    MSG_BLIND_NODE_REQ_CONF = 9,
};

constexpr uint16_t BROADCAST_ADDR = 0xFFFF;

// The name a message type is logged under ("REF_NODE_CONF"), or null for a type that is
// not sent.
const char* DongleMessageName(uint32_t type);

// Word 0 the message type, word 1 the destination node address, words 2..9 the
// parameters of the type (only their low 8 or 16 bits go on the wire).
struct DongleMessage {
    uint32_t word[10] = {};
};
