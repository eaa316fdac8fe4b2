#include "print/printer.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <cerrno>
#include <cmath>

#include "platform/spooler.h"
#include "print/imagelayout.h"

namespace {

// Drawing resolution of the page: fine enough that the rectangle lands within a
// thousandth of an inch.
constexpr int kPageDotsPerInch = 1200;

// Images without a stored resolution are taken at the usual screen resolution.
constexpr double kDefaultDotsPerInch = 96.0;

// The image's resolution in dots per inch. Qt keeps it as whole dots per metre, which
// turns a file's 72 dpi into 71.98; a value that close to a whole number is that number.
double DotsPerInch(int dotsPerMeter) {
  if (dotsPerMeter <= 0) return kDefaultDotsPerInch;
  const double dpi = dotsPerMeter * 0.0254;
  const double whole = std::round(dpi);
  return std::abs(dpi - whole) < 0.05 ? whole : dpi;
}

// One page of exactly the sheet's size with the image drawn into `placement`.
QByteArray DrawImagePage(const QImage& image, const SheetSize& sheet, const ImagePlacement& placement) {
  QByteArray document;
  QBuffer buffer(&document);
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setCreator("Olvaro Desktop");
    writer.setResolution(kPageDotsPerInch);
    writer.setPageSize(QPageSize(QSizeF(sheet.width / 100.0, sheet.length / 100.0), QPageSize::Millimeter, QString(),
                                 QPageSize::ExactMatch));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter(&writer);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(placement.x * kPageDotsPerInch, placement.y * kPageDotsPerInch,
                             placement.width * kPageDotsPerInch, placement.height * kPageDotsPerInch),
                      image);
  }
  return document;
}

}  // namespace

int PrintImageFile(const std::string& path) {
  const std::optional<SheetSize> sheet = GetDefaultSheetSize();
  if (!sheet) return ENODEV;

  // The first image of the file: the first page of a TIFF, the first frame of a GIF.
  QImageReader reader(QString::fromStdString(path));
  const QImage image = reader.read();
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) return EINVAL;

  const float sheetWidth = static_cast<float>(sheet->width) / 2540.0f;
  const float sheetHeight = static_cast<float>(sheet->length) / 2540.0f;
  const float imageWidth = static_cast<float>(image.width() / DotsPerInch(image.dotsPerMeterX()));
  const float imageHeight = static_cast<float>(image.height() / DotsPerInch(image.dotsPerMeterY()));
  const ImagePlacement placement = PlaceImageOnSheet(sheetWidth, sheetHeight, imageWidth, imageHeight);

  const QByteArray document = DrawImagePage(image, *sheet, placement);
  // The page already has the sheet's size; the spooler must not fit it again.
  return SubmitBytesToDefaultQueue(std::string_view(document.constData(), static_cast<size_t>(document.size())),
                                   "application/pdf", "Image", {{"print-scaling", "none"}})
      .error;
}
