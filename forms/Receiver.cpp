#include "Receiver.h"

#include <stdexcept>

namespace corvane {

Receiver::Receiver(std::unique_ptr<RecordingDevice> device, std::unique_ptr<MessageSink> messages)
    : decoder_(settings_, surface_), device_(std::move(device)), messages_(std::move(messages))
{
    if (!device_ || !messages_)
        throw std::invalid_argument("Receiver needs a recording device and a message sink");
}

Receiver::~Receiver()
{
    detach();
}

CaptureEngine& Receiver::attach(QObject* target)
{
    if (engine_)
        throw std::logic_error("The capture engine already has a window");
    engine_ = std::make_unique<CaptureEngine>(*device_, settings_, decoder_, *messages_, target);
    return *engine_;
}

void Receiver::detach()
{
    engine_.reset();
}

} // namespace corvane
