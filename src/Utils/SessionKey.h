#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// The session key: an immutable value shared by reference. It is replaced on the receive thread
// (key exchange) and the main thread (cleared at disconnect) while the encoder and the file server
// read it; a reader keeps its own reference for as long as it uses the key, so a replacement never
// frees a key in use. Null when frames travel in clear.
using SessionKey = std::shared_ptr<const std::vector<uint8_t>>;
