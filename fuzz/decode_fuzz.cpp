// The codec's Decode over any data: it writes at most length/2 bytes, and
// what it accepts codes back to the same data. Code over the same bytes as
// text decodes back to them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int32_t Code(char* out, const char* text, int32_t length);
extern "C" int32_t Decode(char* out, const char* data, int32_t length);

namespace {

constexpr int32_t Ok = 0;
constexpr int32_t BadArguments = 1;
constexpr std::size_t Guard = 16;
constexpr char GuardByte = '\x5A';

void Check(bool ok) {
    if (!ok)
        std::abort();
}

bool GuardsHold(const std::vector<char>& buffer, std::size_t from) {
    for (std::size_t i = from; i < buffer.size(); ++i)
        if (buffer[i] != GuardByte)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, std::size_t size) {
    const auto* data = reinterpret_cast<const char*>(bytes);
    const auto length = static_cast<int32_t>(size);
    const std::size_t half = size / 2;

    // Guard bytes catch a write past length/2 even inside the allocation.
    std::vector<char> out(half + Guard, GuardByte);
    const int32_t status = Decode(out.data(), data, length);
    Check(GuardsHold(out, half));
    if (size % 2 != 0) {
        Check(status == BadArguments && GuardsHold(out, 0));
    } else if (status == Ok) {
        std::vector<char> again(size + Guard, GuardByte);
        Check(Code(again.data(), out.data(), static_cast<int32_t>(half)) == Ok);
        Check(GuardsHold(again, size));
        Check(std::equal(data, data + size, again.data()));
    }

    // Exactly sized, so AddressSanitizer sees any overrun as well.
    std::vector<char> coded(2 * size);
    Check(Code(coded.data(), data, length) == Ok);
    std::vector<char> decoded(size);
    Check(Decode(decoded.data(), coded.data(), static_cast<int32_t>(coded.size())) == Ok);
    Check(std::equal(data, data + size, decoded.data()));
    return 0;
}
