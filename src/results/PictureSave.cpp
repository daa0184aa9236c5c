#include "results/PictureSave.h"

#include "chart/ChartPicture.h"
#include "platform/MessageBox.h"
#include "results/PictureFailure.h"

#include <QApplication>
#include <QFileDialog>
#include <QLocale>
#include <QProgressDialog>

namespace {

// The file the user names, or none when the dialog is closed.
QString AskForPictureFile(QWidget* parent) {
    QFileDialog dialog(parent, "Сохранить рисунок", QString(),
                       "Рисунок PNG (*.png);;Рисунок BMP (*.bmp)");
    dialog.setObjectName("SavePictureDialog");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("png");
    dialog.selectFile("Image.png");
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) {
                         dialog.setDefaultSuffix(filter.contains("bmp") ? "bmp" : "png");
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

void SavePictureWithProgress(QWidget* parent, const TChartLayout& layout) {
    const QString fileName = AskForPictureFile(parent);
    if (fileName.isEmpty())
        return;
    // Shown at once and kept up to date band by band: the window answers while a tall picture
    // is written, and the file dialog's place is painted again at once.
    QProgressDialog progress(QString("Рисунок сохраняется в файл %1…").arg(fileName), "Отмена", 0,
                             layout.Height, parent);
    progress.setObjectName("SavePictureProgress");
    progress.setWindowTitle("Сохранить рисунок");
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(0);
    progress.setAutoReset(false);
    progress.setValue(0);
    QApplication::processEvents();
    TPictureFailure failure;
    const bool saved = SaveChartPicture(layout, fileName, QLocale().decimalPoint(), &failure,
                                        [&progress](int done, int) {
                                            progress.setValue(done);
                                            return !progress.wasCanceled();
                                        });
    progress.close();
    if (saved)
        ShowMessage(QMessageBox::Information, PictureSavedText(fileName), parent);
    else
        ShowMessage(failure.Cancelled ? QMessageBox::Information : QMessageBox::Warning,
                    PictureFailureText(failure, fileName, layout.Height), parent);
}
