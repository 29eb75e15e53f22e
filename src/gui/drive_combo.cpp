#include "gui/drive_combo.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>
#include <optional>

namespace morvane {
namespace {

// Each icon is drawn on a 16-unit square, scaled to the pixmap's size.
void DrawFixed(QPainter& p) {
  p.setPen(QPen(QColor(70, 74, 82), 0.8));
  p.setBrush(QColor(188, 194, 204));
  p.drawRoundedRect(QRectF(1.5, 4.5, 13, 8), 1.6, 1.6);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(150, 156, 168));
  p.drawRect(QRectF(2.5, 9.5, 11, 2));
  p.setBrush(QColor(40, 200, 80));
  p.drawEllipse(QPointF(12, 7), 1.1, 1.1);
}

void DrawRemovable(QPainter& p) {
  p.setPen(QPen(QColor(110, 114, 120), 0.8));
  p.setBrush(QColor(215, 218, 224));
  p.drawRect(QRectF(5.5, 1.5, 5, 4));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(110, 114, 120));
  p.drawRect(QRectF(6.5, 2.5, 1, 1));
  p.drawRect(QRectF(8.5, 2.5, 1, 1));
  p.setPen(QPen(QColor(20, 70, 150), 0.8));
  p.setBrush(QColor(50, 120, 215));
  p.drawRoundedRect(QRectF(4, 5.5, 8, 9.5), 1.8, 1.8);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(230, 240, 255));
  p.drawEllipse(QPointF(8, 11), 1.2, 1.2);
}

void DrawNetwork(QPainter& p) {
  p.setPen(QPen(QColor(70, 74, 82), 0.8));
  p.setBrush(QColor(188, 194, 204));
  p.drawRoundedRect(QRectF(1.5, 1.5, 13, 6.5), 1.4, 1.4);
  p.setPen(QPen(QColor(40, 110, 190), 1.2));
  p.drawLine(QPointF(8, 8), QPointF(8, 12));
  p.drawLine(QPointF(2, 14), QPointF(14, 14));
  p.setBrush(QColor(60, 140, 225));
  p.drawRect(QRectF(6, 11.5, 4, 3));
}

void DrawOptical(QPainter& p) {
  QRadialGradient g(QPointF(6, 6), 9);
  g.setColorAt(0, QColor(250, 250, 255));
  g.setColorAt(0.5, QColor(190, 205, 235));
  g.setColorAt(1, QColor(225, 190, 230));
  p.setPen(QPen(QColor(110, 114, 130), 0.8));
  p.setBrush(g);
  QPainterPath disc;
  disc.addEllipse(QPointF(8, 8), 6.8, 6.8);
  disc.addEllipse(QPointF(8, 8), 1.8, 1.8);
  p.drawPath(disc);
}

void DrawRam(QPainter& p) {
  p.setPen(QPen(QColor(20, 90, 40), 0.8));
  p.setBrush(QColor(50, 160, 80));
  p.drawRect(QRectF(1.5, 4.5, 13, 7));
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(35, 35, 40));
  for (int i = 0; i < 3; ++i) p.drawRect(QRectF(2.5 + i * 4.2, 5.5, 3, 4));
  p.setBrush(QColor(220, 180, 60));
  for (int i = 0; i < 6; ++i) p.drawRect(QRectF(2.5 + i * 2, 11.5, 1, 2));
}

QPixmap Paint(DriveKind kind, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 16.0, size / 16.0);
  switch (kind) {
    case DriveKind::Removable: DrawRemovable(p); break;
    case DriveKind::Fixed: DrawFixed(p); break;
    case DriveKind::Network: DrawNetwork(p); break;
    case DriveKind::Optical: DrawOptical(p); break;
    case DriveKind::Ram: DrawRam(p); break;
  }
  return pixmap;
}

}  // namespace

TMyDriveComboBox::TMyDriveComboBox(QWidget* parent) : QComboBox(parent) {
  setObjectName(QStringLiteral("DriveComboBox1"));
  setEditable(false);
  setIconSize(QSize(16, 16));
  setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  setMinimumContentsLength(24);
}

QIcon TMyDriveComboBox::DriveIcon(DriveKind kind) {
  static std::array<std::optional<QIcon>, 5> icons;
  auto& icon = icons[static_cast<size_t>(kind)];
  if (!icon) {
    QIcon made;
    for (int size : {16, 24, 32, 48}) made.addPixmap(Paint(kind, size));
    icon = made;
  }
  return *icon;
}

void TMyDriveComboBox::FillDrives(const std::vector<DriveItem>& drives) {
  clear();
  for (const DriveItem& d : drives) {
    addItem(DriveIcon(d.kind), QString::fromStdString(d.text), QString::fromStdString(d.devicePath));
    setItemData(count() - 1, static_cast<int>(d.kind), kKindRole);
    setItemData(count() - 1, QString::fromStdString(d.devicePath), Qt::ToolTipRole);
  }
  setCurrentIndex(count() > 0 ? 0 : -1);
}

void TMyDriveComboBox::RefreshDrives(const std::string& sysRoot, const std::string& devRoot) {
  FillDrives(ListDrives(sysRoot, devRoot));
}

void TMyDriveComboBox::RemoveNetworkDrives() {
  for (int i = count() - 1; i >= 0; --i)
    if (KindAt(i) == DriveKind::Network) removeItem(i);
}

QString TMyDriveComboBox::SelectedPath() const {
  if (currentIndex() < 0) return {};
  return itemData(currentIndex(), kPathRole).toString();
}

int TMyDriveComboBox::FindPath(const QString& devicePath) const { return findData(devicePath, kPathRole); }

DriveKind TMyDriveComboBox::KindAt(int index) const {
  QVariant v = itemData(index, kKindRole);
  return v.isValid() ? static_cast<DriveKind>(v.toInt()) : DriveKind::Fixed;
}

}  // namespace morvane
