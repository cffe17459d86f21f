// SHA-256 (FIPS 180-4), for the page's content security policy: the browser runs the
// page's own script and style only when their hashes match the ones the policy names.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qtk::fleet {

std::array<std::uint8_t, 32> Sha256(std::string_view bytes);
std::string Base64(const std::uint8_t* data, std::size_t size);

}  // namespace qtk::fleet
