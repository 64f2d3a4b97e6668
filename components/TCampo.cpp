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
    : NavigatingEdit(QColor(255, 255, 0), parent), m_mapper(new QDataWidgetMapper(this))
{
    setValidator(new UpperCase(this));
    m_mapper->setSubmitPolicy(QDataWidgetMapper::ManualSubmit);
    // Qt's own "modified" flag is reset by the upper-casing; keep a flag of our own.
    connect(this, &QLineEdit::textEdited, this, [this] { m_edited = true; });
}

TCampo::~TCampo() = default;

void TCampo::setDataSource(QAbstractItemModel* model)
{
    if (model == m_model)
        return;
    m_model = model;
    rebind();
}

void TCampo::setDataField(const QString& field)
{
    if (field == m_field)
        return;
    m_field = field;
    rebind();
}

void TCampo::setDataRow(int row)
{
    if (row == m_row)
        return;
    m_row = row;
    if (m_mapper->model())
        m_mapper->setCurrentIndex(row);
    m_edited = false;
}

int TCampo::fieldColumn() const
{
    for (int c = 0; c < m_model->columnCount(); ++c)
        if (m_model->headerData(c, Qt::Horizontal)
                .toString()
                .compare(m_field, Qt::CaseInsensitive) == 0)
            return c;
    return -1;
}

void TCampo::rebind()
{
    m_mapper->clearMapping();
    if (!m_model || m_field.isEmpty()) {
        return;
    }
    const int column = fieldColumn();
    if (column < 0) {
        reportError(tr("Field '%1' not found").arg(m_field));
        return;
    }
    m_mapper->setModel(m_model);
    m_mapper->addMapping(this, column);
    // The mapper's delegate would take Tab, Enter and Escape for itself; this field has its
    // own ideas about those keys and commits on leaving instead.
    removeEventFilter(m_mapper->itemDelegate());
    m_mapper->setCurrentIndex(m_row);
    m_edited = false;
}

void TCampo::exited()
{
    // Only what the user changed goes back: showing a value in upper case is no edit. Leaving
    // includes the window closing, so closing it another way than by Escape loses nothing.
    if (m_edited && m_mapper->model())
        m_mapper->submit();
    m_edited = false;
}

void TCampo::escapePressed()
{
    // Escape means "never mind": the unsaved edit is dropped, not written while closing.
    if (m_edited && m_mapper->model())
        m_mapper->revert();
    m_edited = false;
}

} // namespace corvane
