#include "app/fontes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QStringList>

namespace ondaris::app {

namespace {

QStringList PastasTahoma() {
    return {QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"),
            QStringLiteral("/usr/share/wine/fonts"),
            QStringLiteral("/usr/share/fonts/truetype/wine"),
            QStringLiteral("/usr/lib/wine/fonts"),
            QStringLiteral("/usr/local/share/wine/fonts")};
}

QString Carregar() {
    QString familia;
    for (const QString& pasta : PastasTahoma()) {
        const QString regular = QDir(pasta).filePath(QStringLiteral("tahoma.ttf"));
        if (!QFileInfo::exists(regular)) {
            continue;
        }
        const int id = QFontDatabase::addApplicationFont(regular);
        if (id < 0) {
            continue;
        }
        const QStringList familias = QFontDatabase::applicationFontFamilies(id);
        if (familias.isEmpty()) {
            continue;
        }
        familia = familias.first();
        const QString negrito = QDir(pasta).filePath(QStringLiteral("tahomabd.ttf"));
        if (QFileInfo::exists(negrito)) {
            QFontDatabase::addApplicationFont(negrito);
        }
        break;
    }
    return familia;
}

}  // namespace

QString CarregarTahoma() {
    static const QString familia = Carregar();
    return familia;
}

QFont FonteArialNegrito(int pixels) {
    QFont fonte(QStringLiteral("Arial"));
    fonte.setPixelSize(pixels);
    fonte.setBold(true);
    return fonte;
}

}  // namespace ondaris::app
