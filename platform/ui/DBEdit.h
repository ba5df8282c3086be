#pragma once
// The data-aware edit box: shows one field of its data source's current row, read-only.
//
// The text follows the dataset: opening, closing, filtering and every move of the current row
// show the field's text there (empty when the dataset is closed or has no rows, or when it has
// no field of that name). Nothing typed is ever written back; the box is read-only.
//
// Layout (dynamic property in a .ui): DataField.
#include <QLineEdit>
#include <memory>
#include <string>

#include "platform/db/DB.h"

class TDBEdit : public QLineEdit, public TObject {
 public:
  explicit TDBEdit(QWidget* Parent = nullptr);
  ~TDBEdit() override;
  DECLARE_CLASS_NAME(TDBEdit)

  TDataSource* DataSource() const;
  void SetDataSource(TDataSource* Value);
  const std::string& DataField() const { return FDataField; }
  void SetDataField(const std::string& Value);
  // The field shown, or null.
  TField* Field() const;
  std::string Text() const { return QLineEdit::text().toStdString(); }

 protected:
  bool event(QEvent* Event) override;

 private:
  class Link;
  void Refresh();

  std::string FDataField;
  std::unique_ptr<Link> FLink;
};
