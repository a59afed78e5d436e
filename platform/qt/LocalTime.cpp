// Qt's date-format letters agree with the platform patterns the launcher
// uses (dd, MM, yyyy, HH, mm, ss), and toString writes them in the C locale.
#include <QDateTime>

#include "platform/Host.hpp"

namespace platform {

std::string stringFromCurrentDate(std::string_view dateFormat) {
    const QString format =
        QString::fromUtf8(dateFormat.data(), static_cast<qsizetype>(dateFormat.size()));
    return QDateTime::currentDateTime().toString(format).toStdString();
}

}  // namespace platform
