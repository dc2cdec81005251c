#pragma once

// The exchanges the waveform retrieval of the drivers shares: commands and
// text replies of bounded size, read through the VISA session without any
// format conversion of the VISA layer, so a reply can never write past its
// buffer and numbers are read the same way in every locale.

#include "visa/visa.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel::wavedata {

// Longest command text a driver sends (instrument names and saved replies
// are put into commands).
constexpr std::size_t MAX_COMMAND_LENGTH = 255;

// Sends `command` (written with its line feed, which then ends the
// message); '%' in it is not interpreted. False when the text is longer than MAX_COMMAND_LENGTH or
// the write fails.
bool SendText(ViSession session, const std::string& command);

// Sends `command`, then reads its reply to the end of the message. The
// reply loses its trailing white space (the line end) and a leading echo of
// the command's header ("TRMD AUTO" for "TRMD?"). False when the send
// or the read fails, or the reply is longer than `limit` bytes (the rest
// of such a reply is read and dropped).
bool QueryLine(ViSession session, const std::string& command, std::size_t limit,
               std::string& reply);
// The first word of the reply (leading white space skipped), as a "%s"
// conversion reads it; false on failure or an empty reply.
bool QueryWord(ViSession session, const std::string& command, std::size_t limit, std::string& word);
// An integer reply such as "+1" or "0"; false on failure, when the reply
// does not start with a number or the number does not fit 32 bits.
bool QueryInt32(ViSession session, const std::string& command, std::int32_t& value);

// Reads exactly `count` raw bytes, across as many reads as the transport
// needs (a line feed inside binary data ends a read on transports without
// an end-of-message signal). False on an error status (a reply that ended
// early runs into the time-out) or a read that brings nothing.
bool ReadExactly(ViSession session, std::uint8_t* data, std::size_t count);

} // namespace quarvel::wavedata
