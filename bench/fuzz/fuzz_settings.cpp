// The settings decoder on arbitrary bytes: it never crashes, and whatever it
// accepts encodes to a document that decodes to the same settings.
#include "VantrelCore/SettingsJSON.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto decoded = vantrel::decodeSettingsText(text);
    if (!decoded)
        return 0;
    auto encoded = vantrel::encodeSettingsText(*decoded);
    if (!encoded)
        std::abort(); // accepted settings that cannot be written back
    auto again = vantrel::decodeSettingsText(*encoded);
    if (!again || !(*again == *decoded))
        std::abort(); // the round trip changed them
    return 0;
}
