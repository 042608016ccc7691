// Draws the library folder's icon and writes it as app/resources/FolderIcon.icns.
// Build and run once:
//   g++ -std=c++20 -fPIC scripts/make-folder-icon.cpp -o /tmp/make-folder-icon $(pkg-config --cflags --libs
//   Qt6Gui) QT_QPA_PLATFORM=offscreen /tmp/make-folder-icon app/resources/FolderIcon.icns
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-folder-icon OUTPUT.icns\n");
        return 2;
    }
    constexpr int size = 512;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // The folder's back with its tab.
    QPainterPath back;
    back.moveTo(40, 120);
    back.lineTo(40, 96);
    back.quadTo(40, 76, 60, 76);
    back.lineTo(190, 76);
    back.quadTo(204, 76, 214, 90);
    back.lineTo(232, 112);
    back.lineTo(452, 112);
    back.quadTo(472, 112, 472, 132);
    back.lineTo(472, 420);
    back.lineTo(40, 420);
    back.closeSubpath();
    QLinearGradient backFill(0, 76, 0, 420);
    backFill.setColorAt(0, QColor(0x3d, 0x7e, 0xc9));
    backFill.setColorAt(1, QColor(0x2a, 0x5d, 0x9c));
    painter.fillPath(back, backFill);

    // The front flap.
    QPainterPath front;
    front.addRoundedRect(QRectF(40, 160, 432, 276), 22, 22);
    QLinearGradient frontFill(0, 160, 0, 436);
    frontFill.setColorAt(0, QColor(0x7c, 0xb8, 0xf2));
    frontFill.setColorAt(1, QColor(0x4f, 0x93, 0xe0));
    painter.fillPath(front, frontFill);

    // A small spark on the flap: the creative projects inside.
    QPainterPath spark;
    QPointF centre(256, 298);
    for (int i = 0; i < 8; ++i) {
        double radius = i % 2 == 0 ? 74 : 24;
        double angle = i * M_PI / 4 - M_PI / 2;
        QPointF point(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
        if (i == 0)
            spark.moveTo(point);
        else
            spark.lineTo(point);
    }
    spark.closeSubpath();
    painter.fillPath(spark, QColor(255, 255, 255, 230));
    painter.end();

    QImageWriter writer(QString::fromLocal8Bit(argv[1]), "icns");
    if (!writer.write(image)) {
        std::fprintf(stderr, "make-folder-icon: %s\n", qPrintable(writer.errorString()));
        return 1;
    }
    return 0;
}
