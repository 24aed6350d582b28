// A passive, system-wide feed of the keyboard's modifier state.
#include "InputEngine/ModifierWatcher.h"

namespace vantrel {

ModifierWatcher::ModifierWatcher() : self_(std::make_shared<ModifierWatcher*>(this)) {}

ModifierWatcher::~ModifierWatcher()
{
    *self_ = nullptr;
    feed_.reset();
}

std::unique_ptr<ModifierWatcher> ModifierWatcher::make()
{
    auto backend = currentInputBackend();
    return backend ? make(*backend) : nullptr;
}

std::unique_ptr<ModifierWatcher> ModifierWatcher::make(InputBackend& backend)
{
    std::unique_ptr<ModifierWatcher> watcher(new ModifierWatcher());
    std::weak_ptr<ModifierWatcher*> weakSelf = watcher->self_;
    watcher->feed_ = backend.watchModifiers([weakSelf](std::uint64_t flags) {
        if (auto self = weakSelf.lock(); self && *self)
            (*self)->report(flags);
    });
    if (!watcher->feed_)
        return nullptr;
    return watcher;
}

void ModifierWatcher::report(std::uint64_t flags)
{
    if (onFlagsChanged)
        onFlagsChanged(flags & deviceIndependentMask);
}

} // namespace vantrel
