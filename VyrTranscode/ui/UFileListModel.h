// The file list `cdsConvert`: one row per record file to convert, with the fields
// "FileName", "FilePath", "ConvertProgress" and "ConvertStatus", kept in the order the rows
// were added, and a current row as the queue walks the list (row numbers from 1; past the
// last row is the end of the list). Names and paths are kept whole, in Unicode for the
// grid, and the path also as the file system's bytes, exactly as it was given.
//
// The grid shows two columns: 0 the file name, 1 the progress (drawn by TProgressDelegate
// from ProgressRole, MarkRole and MarkTextRole). A row carries the mark of its last
// conversion (failed, warned, stopped, skipped) with a tooltip that says why.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <string>
#include <vector>

enum eConvertStatus : int16_t {
  eCSing = 0,   // being converted
  eCSOver = 1,  // finished
  eCSNull = 2,  // not converted in this run
};

// What the last conversion of a row came to, beyond its progress.
enum class TRowMark : int {
  None,     // not converted yet, or converted without anything to tell
  Failed,   // no output was made: the failure text instead of the bar
  Warned,   // converted, with something the user should know: the bar in the warning colour
  Stopped,  // stopped by the user: the bar at its last progress, labelled as stopped
  Skipped,  // not converted, because its output existed and the user chose to skip it
};

struct TFileListRow {
  QString FileName;
  QString FilePath;
  // The path as the file system's bytes; what the conversion opens.
  std::string Path;
  // What the row's output name is compared by when another file is added (set by the
  // window; two rows with equal keys would write the same output).
  std::string OutputKey;
  int32_t ConvertProgress = 0;
  int16_t ConvertStatus = eCSNull;
  TRowMark ConvertMark = TRowMark::None;
  // Why the row carries its mark, in words for the user (its tooltip).
  QString MarkTip;
};

class TFileListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum { ProgressRole = Qt::UserRole + 1, MarkRole, MarkTextRole };

  explicit TFileListModel(QObject* AParent = nullptr);

  // ---- table model -------------------------------------------------------------------
  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole) const override;
  QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole) const override;
  Qt::ItemFlags flags(const QModelIndex& AIndex) const override;

  void SetColumnTitle(int AColumn, const QString& ATitle);
  QString ColumnTitle(int AColumn) const;
  // The texts shown in the progress cell of a failed, a stopped and a skipped row.
  void SetMarkTexts(const QString& AFailed, const QString& AStopped, const QString& ASkipped);
  QString MarkText(TRowMark AMark) const;

  // ---- rows --------------------------------------------------------------------------
  int RecordCount() const { return static_cast<int>(FRows.size()); }
  // Row number ARecNo (from 1); null when there is none.
  const TFileListRow* Row(int ARecNo) const;
  // Appends a row (progress 0, status eCSNull) and makes it the current row. APath is the
  // path's bytes; when empty, AFilePath in the file system's encoding.
  void Append(const QString& AFileName, const QString& AFilePath, const std::string& APath = std::string(),
              const std::string& AOutputKey = std::string());
  // Removes the rows with these 0-based indexes.
  void DeleteRows(std::vector<int> AIndexes);
  void EmptyDataSet();

  void SetProgress(int ARecNo, int32_t AProgress);
  void SetStatus(int ARecNo, int16_t AStatus);
  void SetMark(int ARecNo, TRowMark AMark, const QString& ATip = QString());
  // Progress 0, status eCSNull and no mark in every row, one repaint.
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
  QString FFailedText, FStoppedText, FSkippedText;
};
