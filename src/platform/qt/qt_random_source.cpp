#include "platform/qt/qt_random_source.h"

#include <chrono>

namespace tamberly {

void QtRandomSource::reseedFromClock() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    m_generator.seed(static_cast<quint32>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

} // namespace tamberly
