#include "codec/DataBuffers.h"

namespace ferrow::codec {

DataBuffers::DataBuffers(std::int32_t inputBufferSize)
    : inputBuffer(static_cast<std::size_t>(inputBufferSize > 0 ? inputBufferSize : 0)),
      tagCoder(util::BitCoderContext::writer(tagBuffer)),
      recordBuffer(RECORD_BUFFER_SIZE),
      linkListBuffer(LINK_LIST_BUFFER_SIZE),
      nodeIdBuffer(NODE_BUFFER_SIZE),
      recordEndBuffer(NODE_BUFFER_SIZE),
      lonBuffer(NODE_BUFFER_SIZE),
      latBuffer(NODE_BUFFER_SIZE) {}

} // namespace ferrow::codec
