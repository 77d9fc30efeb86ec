#include "EsProperties.h"

#include "VesParser.h"

namespace SklibTs {

EsProperties::EsProperties() = default;
EsProperties::~EsProperties() = default;

void EsProperties::Clear()
{
    video_.reset();
    audio_.reset();
    parser_.reset();
}

void EsProperties::SetVideo(std::unique_ptr<VideoStreamInfo> video)
{
    audio_.reset();
    video_ = std::move(video);
}

void EsProperties::SetAudio(std::unique_ptr<AudioStreamInfo> audio)
{
    video_.reset();
    audio_ = std::move(audio);
}

void EsProperties::DropVideo() { video_.reset(); }
void EsProperties::DropAudio() { audio_.reset(); }

int32_t EsProperties::ParserType() const { return parser_ ? parser_->TypeCode() : kNoParser; }

void EsProperties::SetParser(std::unique_ptr<VesParser> parser) { parser_ = std::move(parser); }

} // namespace SklibTs
