// A panel's hold on the keyboard: the input engine's grab, read through the keyboard layout.
#include "PanelUI/PanelKeyboard.h"

#include "InputEngine/InputBackend.h"
#include "VantrelCore/KeyboardLayoutTranslator.h"

namespace vantrel {

PanelKeyboard::PanelKeyboard(Logger log) : log_(std::move(log)) {}

PanelKeyboard::~PanelKeyboard() = default;

bool PanelKeyboard::take(std::function<void(const PanelKey&)> onKey)
{
    if (grab_)
        return true;
    auto backend = currentInputBackend();
    if (!backend) {
        log_.debug("keyboard grab skipped: no input backend");
        return false;
    }
    // A fresh reader per grab: a dead key pending from the last session
    // must not compose with this one's first key.
    auto reader = std::make_shared<PanelKeyReader>(backend->makeLayoutTranslator());
    std::weak_ptr<PanelKeyReader> weakReader = reader;
    grab_ = backend->grabKeyboard([weakReader, onKey = std::move(onKey)](const KeyEvent& event) {
        auto reader = weakReader.lock();
        if (!reader || event.kind != KeyEvent::Kind::keyDown)
            return;
        onKey(reader->read(event));
    });
    if (!grab_) {
        log_.error("keyboard grab refused: another client holds the keyboard");
        return false;
    }
    reader_ = std::move(reader);
    return true;
}

void PanelKeyboard::release()
{
    grab_.reset();
    reader_.reset();
}

} // namespace vantrel
