#pragma once
// The frame form shared by both directions of the dongle line:
//   0x02, command high, command low, length, data[length], FCS
// where FCS is the exclusive-or of every byte from the command through the data.

#include <cstdint>

// Command codes; a response carries its request's code plus 0x1000.
enum : uint16_t {
    CMD_PING_REQUEST = 0x0007,
    CMD_GET_DEVICE_INFO = 0x0014,
    CMD_DATA_REQUEST = 0x0018,
    CMD_PING_RESPONSE = 0x1007,
    CMD_DEV_INFO_RSP = 0x1014,
    CMD_DATA_INDICATION = 0x1018,
};

constexpr uint8_t FRAME_START = 0x02;
constexpr int FRAME_OVERHEAD = 5;        // start, command (2), length, FCS
constexpr int MAX_RX_DATA_LENGTH = 48;   // longest data field a received frame may hold
constexpr int MAX_TX_DATA_LENGTH = 18;   // longest data field the program sends
constexpr int MAX_TX_FRAME = MAX_TX_DATA_LENGTH + FRAME_OVERHEAD;
constexpr int RX_AREA_SIZE = 8192;

// Tag bytes around the node address in the message header of node messages.
constexpr uint8_t MSG_TAG_FIRST = 0xCB;
constexpr uint8_t MSG_TAG_SECOND = 0xCA;
constexpr int MSG_HEADER_LENGTH = 7;

// Exclusive-or of the first count bytes; 0 for a count below 1.
uint8_t ComputeFcs(int count, const uint8_t* bytes);

// Builds a whole frame into out (room for length + 5 bytes) and returns its size.
// length must lie in 0..255; data may be null when length is 0.
int BuildFrame(uint16_t command, const uint8_t* data, int length, uint8_t* out);
