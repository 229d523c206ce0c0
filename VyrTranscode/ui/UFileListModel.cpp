#include "ui/UFileListModel.h"

#include <QFile>
#include <algorithm>

TFileListModel::TFileListModel(QObject* AParent) : QAbstractTableModel(AParent) {
  // The field label of "FileName" and the drawn column's title.
  FTitles[0] = QStringLiteral("文件名");
  FTitles[1] = QStringLiteral("进度");
}

int TFileListModel::rowCount(const QModelIndex& AParent) const {
  return AParent.isValid() ? 0 : RecordCount();
}

int TFileListModel::columnCount(const QModelIndex& AParent) const { return AParent.isValid() ? 0 : 2; }

QVariant TFileListModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid() || AIndex.row() >= RecordCount()) return QVariant();
  const TFileListRow& r = FRows[static_cast<size_t>(AIndex.row())];
  if (AIndex.column() == 0) {
    if (ARole == Qt::DisplayRole) return r.FileName;
    if (ARole == Qt::ToolTipRole) return r.MarkTip.isEmpty() ? r.FilePath : r.FilePath + QLatin1Char('\n') + r.MarkTip;
    return QVariant();
  }
  switch (ARole) {
    case ProgressRole: return r.ConvertProgress;
    case MarkRole: return static_cast<int>(r.ConvertMark);
    case MarkTextRole: return MarkText(r.ConvertMark);
    case Qt::ToolTipRole: return r.MarkTip.isEmpty() ? QVariant() : QVariant(r.MarkTip);
    default: return QVariant();
  }
}

QVariant TFileListModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
  if (AOrientation == Qt::Horizontal) {
    if (ARole == Qt::DisplayRole && ASection >= 0 && ASection < 2) return FTitles[ASection];
    if (ARole == Qt::TextAlignmentRole && ASection == 1) return QVariant(Qt::AlignCenter);
    return QVariant();
  }
  // The row-indicator column shows the row numbers.
  return QAbstractTableModel::headerData(ASection, AOrientation, ARole);
}

Qt::ItemFlags TFileListModel::flags(const QModelIndex& AIndex) const {
  if (!AIndex.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // read-only
}

void TFileListModel::SetColumnTitle(int AColumn, const QString& ATitle) {
  if (AColumn < 0 || AColumn > 1) return;
  FTitles[AColumn] = ATitle;
  emit headerDataChanged(Qt::Horizontal, AColumn, AColumn);
}

QString TFileListModel::ColumnTitle(int AColumn) const {
  return (AColumn >= 0 && AColumn < 2) ? FTitles[AColumn] : QString();
}

void TFileListModel::SetMarkTexts(const QString& AFailed, const QString& AStopped, const QString& ASkipped) {
  FFailedText = AFailed;
  FStoppedText = AStopped;
  FSkippedText = ASkipped;
  if (RecordCount() > 0) emit dataChanged(index(0, 1), index(RecordCount() - 1, 1));
}

QString TFileListModel::MarkText(TRowMark AMark) const {
  switch (AMark) {
    case TRowMark::Failed: return FFailedText;
    case TRowMark::Stopped: return FStoppedText;
    case TRowMark::Skipped: return FSkippedText;
    case TRowMark::None:
    case TRowMark::Warned: break;
  }
  return QString();
}

const TFileListRow* TFileListModel::Row(int ARecNo) const {
  if (ARecNo < 1 || ARecNo > RecordCount()) return nullptr;
  return &FRows[static_cast<size_t>(ARecNo - 1)];
}

void TFileListModel::Append(const QString& AFileName, const QString& AFilePath, const std::string& APath,
                            const std::string& AOutputKey) {
  const int n = RecordCount();
  beginInsertRows(QModelIndex(), n, n);
  TFileListRow r;
  r.FileName = AFileName;
  r.FilePath = AFilePath;
  r.Path = APath.empty() ? QFile::encodeName(AFilePath).toStdString() : APath;
  r.OutputKey = AOutputKey;
  FRows.push_back(std::move(r));
  endInsertRows();
  FRecNo = n + 1;
}

void TFileListModel::DeleteRows(std::vector<int> AIndexes) {
  std::sort(AIndexes.begin(), AIndexes.end());
  AIndexes.erase(std::unique(AIndexes.begin(), AIndexes.end()), AIndexes.end());
  // From the last, so the indexes still to go stay valid.
  for (auto it = AIndexes.rbegin(); it != AIndexes.rend(); ++it) {
    const int i = *it;
    if (i < 0 || i >= RecordCount()) continue;
    beginRemoveRows(QModelIndex(), i, i);
    FRows.erase(FRows.begin() + i);
    endRemoveRows();
  }
  if (FRecNo > RecordCount()) FRecNo = RecordCount();
}

void TFileListModel::EmptyDataSet() {
  beginResetModel();
  FRows.clear();
  FRecNo = 0;
  endResetModel();
}

void TFileListModel::RowChanged(int ARecNo) {
  emit dataChanged(index(ARecNo - 1, 0), index(ARecNo - 1, 1));
}

void TFileListModel::SetProgress(int ARecNo, int32_t AProgress) {
  if (!Row(ARecNo)) return;
  FRows[static_cast<size_t>(ARecNo - 1)].ConvertProgress = AProgress;
  RowChanged(ARecNo);
}

void TFileListModel::SetStatus(int ARecNo, int16_t AStatus) {
  if (!Row(ARecNo)) return;
  FRows[static_cast<size_t>(ARecNo - 1)].ConvertStatus = AStatus;
  RowChanged(ARecNo);
}

void TFileListModel::SetMark(int ARecNo, TRowMark AMark, const QString& ATip) {
  if (!Row(ARecNo)) return;
  TFileListRow& r = FRows[static_cast<size_t>(ARecNo - 1)];
  r.ConvertMark = AMark;
  r.MarkTip = AMark == TRowMark::None ? QString() : ATip;
  RowChanged(ARecNo);
}

void TFileListModel::ResetAll() {
  for (TFileListRow& r : FRows) {
    r.ConvertProgress = 0;
    r.ConvertStatus = eCSNull;
    r.ConvertMark = TRowMark::None;
    r.MarkTip.clear();
  }
  if (RecordCount() > 0) emit dataChanged(index(0, 0), index(RecordCount() - 1, 1));
}

bool TFileListModel::MoveTo(int ARecNo) {
  if (!Row(ARecNo)) return false;
  FRecNo = ARecNo;
  return true;
}
