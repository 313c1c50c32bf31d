// Runs a fuzz target over every file of the corpus directory it is given, so the corpus is replayed
// by the normal test suite without libFuzzer.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv)
{
    const QDir corpus(argc > 1 ? QFile::decodeName(argv[1]) : QString());
    const QStringList files = corpus.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : files) {
        QFile file(corpus.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        const QByteArray data = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
    }
    std::printf("replayed %d inputs\n", int(files.size()));
    return files.isEmpty() ? 1 : 0;
}
