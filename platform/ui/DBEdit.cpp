#include "platform/ui/DBEdit.h"

#include <QDynamicPropertyChangeEvent>

class TDBEdit::Link : public TDataLink {
 public:
  explicit Link(TDBEdit* Edit) : FEdit(Edit) {}

 protected:
  void ActiveChanged() override { FEdit->Refresh(); }
  void DataSetChanged() override { FEdit->Refresh(); }
  void DataSetScrolled(int) override { FEdit->Refresh(); }

 private:
  TDBEdit* FEdit;
};

TDBEdit::TDBEdit(QWidget* Parent) : QLineEdit(Parent), FLink(std::make_unique<Link>(this)) { setReadOnly(true); }

TDBEdit::~TDBEdit() = default;

TDataSource* TDBEdit::DataSource() const { return FLink->DataSource(); }

void TDBEdit::SetDataSource(TDataSource* Value) {
  if (Value == FLink->DataSource()) return;
  FLink->SetDataSource(Value);  // refreshes through ActiveChanged
}

void TDBEdit::SetDataField(const std::string& Value) {
  FDataField = Value;
  Refresh();
}

TField* TDBEdit::Field() const {
  return FLink->Active() && !FDataField.empty() ? FLink->DataSet()->FindField(FDataField) : nullptr;
}

bool TDBEdit::event(QEvent* Event) {
  if (Event->type() == QEvent::DynamicPropertyChange &&
      static_cast<QDynamicPropertyChangeEvent*>(Event)->propertyName() == "DataField")
    SetDataField(property("DataField").toString().toStdString());
  return QLineEdit::event(Event);
}

void TDBEdit::Refresh() {
  const TField* field = Field();
  setText(field && !field->DataSet()->IsEmpty() ? QString::fromStdString(field->DisplayText()) : QString());
  setCursorPosition(0);
}
