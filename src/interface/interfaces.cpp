// The special members every interface exports: they touch nothing but the table pointer.
#include "codec_interface.h"

namespace codec_interface {

ICodecInterface::ICodecInterface() = default;
ICodecInterface::ICodecInterface(const ICodecInterface&) = default;
ICodecInterface& ICodecInterface::operator=(const ICodecInterface&) { return *this; }
ICodecInterface::~ICodecInterface() = default;

IFileParseInterface::IFileParseInterface() = default;
IFileParseInterface::IFileParseInterface(const IFileParseInterface&) = default;
IFileParseInterface& IFileParseInterface::operator=(const IFileParseInterface&) { return *this; }
IFileParseInterface::~IFileParseInterface() = default;

IPackAudio::IPackAudio() = default;
IPackAudio::IPackAudio(const IPackAudio&) = default;
IPackAudio::IPackAudio(IPackAudio&&) = default;
IPackAudio& IPackAudio::operator=(const IPackAudio&) { return *this; }
IPackAudio& IPackAudio::operator=(IPackAudio&&) { return *this; }

ITransCoder::ITransCoder() = default;
ITransCoder::ITransCoder(const ITransCoder&) = default;
ITransCoder::ITransCoder(ITransCoder&&) = default;
ITransCoder& ITransCoder::operator=(const ITransCoder&) { return *this; }
ITransCoder& ITransCoder::operator=(ITransCoder&&) { return *this; }

IMediaReader::IMediaReader() = default;
IMediaReader::IMediaReader(const IMediaReader&) = default;
IMediaReader& IMediaReader::operator=(const IMediaReader&) { return *this; }
IMediaReader::~IMediaReader() = default;

IMediaWriter::IMediaWriter() = default;
IMediaWriter::IMediaWriter(const IMediaWriter&) = default;
IMediaWriter& IMediaWriter::operator=(const IMediaWriter&) { return *this; }
IMediaWriter::~IMediaWriter() = default;

}  // namespace codec_interface
