#include "TCampoMemo.h"

namespace corvane {

TCampoMemo::TCampoMemo(QWidget* parent) : NavigatingEdit(QColor(160, 224, 255), parent) {}

TCampoMemo::~TCampoMemo() = default;

} // namespace corvane
