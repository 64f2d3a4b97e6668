#pragma once

#include "NavigatingEdit.h"

namespace corvane {

// A plain navigating edit field: light blue while focused, text kept as typed.
class TCampoMemo : public NavigatingEdit
{
    Q_OBJECT

public:
    explicit TCampoMemo(QWidget* parent = nullptr);
    ~TCampoMemo() override;
};

} // namespace corvane
