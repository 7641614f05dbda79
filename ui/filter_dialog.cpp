#include "filter_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>

#include "qt_text.h"

namespace ambrel::ui {

QDate DateOfPacked(PackedTime t) {
  if (t == 0) return QDate(1980, 1, 1);
  const UnpackedTime u = UnpackPackedTime(t);
  const QDate d(u.year, u.month == 0 ? 1 : u.month, u.day == 0 ? 1 : u.day);
  return d.isValid() ? d : QDate(1980, 1, 1);
}

namespace {

FilterDate DateOf(const QDateEdit* edit) {
  const QDate d = edit->date();
  return FilterDate{d.year(), d.month(), d.day()};
}

}  // namespace

FilterDialog::FilterDialog(const FilterSettings& current, WordedPrompt& prompt, QWidget* parent)
    : QDialog(parent), prompt_(prompt), chosen_(current) {
  setWindowTitle(Q(kFilterDialogCaption));
  auto* form = new QFormLayout(this);
  keywords_ = new QLineEdit(Q(current.keywords), this);
  keywords_->setPlaceholderText(Q("例如: *.jpg;*.doc;照片"));
  form->addRow(Q("文件名关键字:"), keywords_);

  auto sizeRow = [&](QLineEdit*& field, QLabel*& label, QString& accepted, std::uint32_t value, const char* caption) {
    accepted = QString::number(value);
    field = new QLineEdit(accepted, this);
    label = new QLabel(Q(ReadableSizeText(value)), this);
    auto* row = new QHBoxLayout;
    row->addWidget(field);
    row->addWidget(new QLabel(QStringLiteral("KB"), this));
    row->addWidget(label);
    form->addRow(Q(caption), row);
    QLineEdit* f = field;
    QLabel* l = label;
    QString* a = &accepted;
    connect(field, &QLineEdit::textEdited, this, [this, f, l, a] { SizeEdited(f, l, *a); });
  };
  sizeRow(minSize_, minLabel_, minAccepted_, current.minSizeKB, "最小文件大小:");
  sizeRow(maxSize_, maxLabel_, maxAccepted_, current.maxSizeKB, "最大文件大小:");

  const PackedTime bounds[6] = {current.createdFrom, current.createdTo, current.modifiedFrom,
                                current.modifiedTo, current.accessedFrom, current.accessedTo};
  const char* const captions[3] = {"创建时间:", "修改时间:", "访问时间:"};
  for (int pair = 0; pair < 3; ++pair) {
    auto* row = new QHBoxLayout;
    for (int side = 0; side < 2; ++side) {
      QDateEdit*& edit = dates_[pair * 2 + side];
      edit = new QDateEdit(DateOfPacked(bounds[pair * 2 + side]), this);
      edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
      edit->setCalendarPopup(true);
      row->addWidget(edit);
      if (side == 0) row->addWidget(new QLabel(Q("至"), this));
    }
    form->addRow(Q(captions[pair]), row);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->button(QDialogButtonBox::Ok)->setText(Q("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(Q("取消"));
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] { TryAccept(); });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void FilterDialog::SizeEdited(QLineEdit* field, QLabel* label, QString& accepted) {
  const QString text = field->text();
  if (!SizeTextAccepted(U8(text))) {
    prompt_.ShowMessage(kMsgSizeText);
    field->setText(accepted);
    return;
  }
  accepted = text;
  label->setText(Q(ReadableSizeText(text.toUInt())));
}

FilterDialogInput FilterDialog::Input() const {
  FilterDialogInput in;
  in.keywords = U8(keywords_->text());
  in.minSizeKB = minAccepted_.toUInt();
  in.maxSizeKB = maxAccepted_.toUInt();
  in.createdFrom = DateOf(dates_[0]);
  in.createdTo = DateOf(dates_[1]);
  in.modifiedFrom = DateOf(dates_[2]);
  in.modifiedTo = DateOf(dates_[3]);
  in.accessedFrom = DateOf(dates_[4]);
  in.accessedTo = DateOf(dates_[5]);
  return in;
}

bool FilterDialog::TryAccept() {
  const FilterDialogInput in = Input();
  const std::string problem = ValidateFilterDialog(in);
  if (!problem.empty()) {
    prompt_.ShowMessage(problem);
    return false;
  }
  chosen_ = SettingsFromDialog(in);
  accept();
  return true;
}

}  // namespace ambrel::ui
