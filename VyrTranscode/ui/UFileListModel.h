// The file list `cdsConvert`: one row per record file to convert, with the fields
// "FileName", "FilePath", "ConvertProgress" and "ConvertStatus", kept in the order the rows
// were added, and a current row as the queue walks the list (row numbers from 1; past the
// last row is the end of the list). Names and paths are kept whole, in Unicode.
//
// The grid shows two columns: 0 the file name, 1 the progress (drawn by TProgressDelegate
// from ProgressRole, FailedRole and FailedTextRole).
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <vector>

enum eConvertStatus : int16_t {
  eCSing = 0,   // being converted
  eCSOver = 1,  // finished
  eCSNull = 2,  // not converted in this run
};

struct TFileListRow {
  QString FileName;
  QString FilePath;
  int32_t ConvertProgress = 0;
  int16_t ConvertStatus = eCSNull;
  // The conversion of this file failed in the last run (shown instead of the bar).
  bool ConvertFailed = false;
};

class TFileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum { ProgressRole = Qt::UserRole + 1, FailedRole, FailedTextRole };

  explicit TFileListModel(QObject* AParent = nullptr);

  // ---- table model -------------------------------------------------------------------
  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole) const override;
  QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole) const override;
  Qt::ItemFlags flags(const QModelIndex& AIndex) const override;

  void SetColumnTitle(int AColumn, const QString& ATitle);
  QString ColumnTitle(int AColumn) const;
  // The text shown in the progress cell of a failed row.
  void SetFailedText(const QString& AText);

  // ---- rows --------------------------------------------------------------------------
  int RecordCount() const { return static_cast<int>(FRows.size()); }
  // Row number ARecNo (from 1); null when there is none.
  const TFileListRow* Row(int ARecNo) const;
  // Appends a row (progress 0, status eCSNull) and makes it the current row.
  void Append(const QString& AFileName, const QString& AFilePath);
  // Removes the rows with these 0-based indexes.
  void DeleteRows(std::vector<int> AIndexes);
  void EmptyDataSet();

  void SetProgress(int ARecNo, int32_t AProgress);
  void SetStatus(int ARecNo, int16_t AStatus);
  void SetFailed(int ARecNo, bool AFailed);
  // Progress 0, status eCSNull and no failure mark in every row, one repaint.
  void ResetAll();

  // ---- current row -------------------------------------------------------------------
  void First() { FRecNo = 1; }
  void Next() { if (FRecNo <= RecordCount()) ++FRecNo; }
  // Past the last row (also for an empty list).
  bool Eof() const { return FRecNo < 1 || FRecNo > RecordCount(); }
  int RecNo() const { return FRecNo; }
  // Moves to row ARecNo; a number that names no row leaves the current row unchanged and
  // answers false.
  bool MoveTo(int ARecNo);

 private:
  void RowChanged(int ARecNo);

  std::vector<TFileListRow> FRows;
  int FRecNo = 0;
  QString FTitles[2];
  QString FFailedText;
};
