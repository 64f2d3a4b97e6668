#include "TCampo.h"

#include "ErrorReporting.h"

#include <QAbstractItemDelegate>
#include <QDataWidgetMapper>
#include <QValidator>
#include <algorithm>

namespace corvane {

namespace {

// Upper-cases every text the field gets, typed, pasted or read from the model.
class UpperCase : public QValidator
{
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override
    {
        input = input.toUpper();
        pos = std::min(pos, static_cast<int>(input.size()));
        return Acceptable;
    }
};

} // namespace

TCampo::TCampo(QWidget* parent)
    : NavigatingEdit(QColor(255, 255, 0), parent), mapper_(new QDataWidgetMapper(this))
{
    setValidator(new UpperCase(this));
    mapper_->setSubmitPolicy(QDataWidgetMapper::ManualSubmit);
    // Qt's own "modified" flag is reset by the upper-casing; keep a flag of our own.
    connect(this, &QLineEdit::textEdited, this, [this] { edited_ = true; });
}

TCampo::~TCampo() = default;

void TCampo::setDataSource(QAbstractItemModel* model)
{
    if (model == model_)
        return;
    model_ = model;
    rebind();
}

void TCampo::setDataField(const QString& field)
{
    if (field == field_)
        return;
    field_ = field;
    rebind();
}

void TCampo::setDataRow(int row)
{
    if (row == row_)
        return;
    row_ = row;
    if (mapper_->model())
        mapper_->setCurrentIndex(row);
    edited_ = false;
}

int TCampo::fieldColumn() const
{
    for (int c = 0; c < model_->columnCount(); ++c)
        if (model_->headerData(c, Qt::Horizontal).toString().compare(field_, Qt::CaseInsensitive) ==
            0)
            return c;
    return -1;
}

void TCampo::rebind()
{
    mapper_->clearMapping();
    if (!model_ || field_.isEmpty()) {
        return;
    }
    const int column = fieldColumn();
    if (column < 0) {
        reportError(tr("Field '%1' not found").arg(field_));
        return;
    }
    mapper_->setModel(model_);
    mapper_->addMapping(this, column);
    // The mapper's delegate would take Tab, Enter and Escape for itself; this field has its
    // own ideas about those keys and commits on leaving instead.
    removeEventFilter(mapper_->itemDelegate());
    mapper_->setCurrentIndex(row_);
    edited_ = false;
}

void TCampo::exited()
{
    // Only what the user changed goes back: showing a value in upper case is no edit. Leaving
    // includes the window closing, so closing it another way than by Escape loses nothing.
    if (edited_ && mapper_->model())
        mapper_->submit();
    edited_ = false;
}

void TCampo::escapePressed()
{
    // Escape means "never mind": the unsaved edit is dropped, not written while closing.
    if (edited_ && mapper_->model())
        mapper_->revert();
    edited_ = false;
}

} // namespace corvane
