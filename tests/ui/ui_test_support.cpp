#include "ui_test_support.h"

#include <cstdlib>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "ui/control_ids.h"

namespace brisk::test {

namespace {

QSettings openStore() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Software"),
                   QStringLiteral("socket"));
}

}  // namespace

int runUiTest(int argc, char** argv, QObject& test) {
  QTemporaryDir config;
  ::setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  return QTest::qExec(&test, argc, argv);
}

QString settingsFile() {
  return openStore().fileName();
}

void clearSettings() {
  QFile::remove(settingsFile());
}

void writeSettings(const std::map<QString, QVariant>& values) {
  std::map<QString, QVariant> all = {
      {QStringLiteral("ipa"), QStringLiteral("对方IP地址")},
      {QStringLiteral("port"), 6000},
      {QStringLiteral("autoclose"), 0},
      {QStringLiteral("zoomed"), 0},
      {QStringLiteral("width"), 400},
      {QStringLiteral("height"), 460},
      {QStringLiteral("StayOnTop"), 0},
  };
  for (const auto& [name, value] : values) all[name] = value;
  clearSettings();
  QSettings store = openStore();
  for (const auto& [name, value] : all) {
    if (!value.isNull()) store.setValue(name, value);
  }
  store.sync();
}

QVariant storedSetting(const QString& name) {
  return openStore().value(name);
}

BoxAnswerer::BoxAnswerer() {
  connect(&timer_, &QTimer::timeout, this, &BoxAnswerer::answerOpenBoxes);
  timer_.start(10);
}

void BoxAnswerer::answerOpenBoxes() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (!box || !box->isVisible() || box->property("answered").toBool()) continue;
    box->setProperty("answered", true);
    texts_.append(box->text());
    box->buttons().constFirst()->click();
  }
}

namespace {

QString shownStatus(MainWindow& window) {
  auto* label = window.findChild<QLabel*>(kStatusLabelName);
  return label->isVisible() ? label->text() : QString();
}

}  // namespace

bool startAndLink(Program& listener, Program& connector) {
  listener.window.start();
  connector.window.start();
  const QString port = QString::number(freePortRange(100));
  control<QLineEdit>(&listener.window, kIdPortBox)->setText(port);
  QTest::mouseClick(control<QPushButton>(&listener.window, kIdListen), Qt::LeftButton);
  // The label changes at once; the port listens a moment later, on the link's thread.
  if (!QTest::qWaitFor([&] {
        return shownStatus(listener.window) == QStringLiteral("正在监听...") &&
               isListening(port.toInt());
      })) {
    return false;
  }
  control<QComboBox>(&connector.window, kIdAddressBox)->setEditText(QStringLiteral("127.0.0.1"));
  control<QLineEdit>(&connector.window, kIdPortBox)->setText(port);
  QTest::mouseClick(control<QPushButton>(&connector.window, kIdConnect), Qt::LeftButton);
  return QTest::qWaitFor([&] {
    return shownStatus(listener.window) == QStringLiteral("已连接") &&
           shownStatus(connector.window) == QStringLiteral("已连接");
  });
}

bool dropUrls(QWidget* target, const QList<QUrl>& urls) {
  QMimeData data;
  data.setUrls(urls);
  const QPointF at(10, 10);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDragMoveEvent move(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &move);
  QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

}  // namespace brisk::test
