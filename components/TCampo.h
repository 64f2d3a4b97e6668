#pragma once

#include "NavigatingEdit.h"

#include <QAbstractItemModel>
#include <QPointer>

class QDataWidgetMapper;

namespace corvane {

// The data-aware navigating edit field: yellow while focused, upper case whatever is typed or
// read. Bound through `dataSource` (any item model, e.g. a QSqlTableModel) and `dataField`
// (a column named in the model's horizontal header), it shows that field of row `dataRow`
// and writes an edit back when the user leaves the field.
class TCampo : public NavigatingEdit
{
    Q_OBJECT
    Q_PROPERTY(QAbstractItemModel* dataSource READ dataSource WRITE setDataSource)
    Q_PROPERTY(QString dataField READ dataField WRITE setDataField)
    Q_PROPERTY(int dataRow READ dataRow WRITE setDataRow)

public:
    explicit TCampo(QWidget* parent = nullptr);
    ~TCampo() override;

    QAbstractItemModel* dataSource() const { return model_; }
    QString dataField() const { return field_; }
    int dataRow() const { return row_; }

    void setDataSource(QAbstractItemModel* model);
    void setDataField(const QString& field);
    void setDataRow(int row);

protected:
    void exited() override;
    void escapePressed() override;

private:
    void rebind();
    int fieldColumn() const;

    QPointer<QAbstractItemModel> model_;
    QString field_;
    int row_ = 0;
    bool edited_ = false; // typed into since last shown or written
    QDataWidgetMapper* mapper_;
};

} // namespace corvane
