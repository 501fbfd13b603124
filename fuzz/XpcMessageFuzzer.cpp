// The XPC stand-in's message decoder, fed in pieces of a size taken from the first byte, and
// the argument checks of an interface with every kind of argument on every call decoded: a damaged message is dropped,
// never read past its end, and every message decoded encodes again into exactly one message.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include "platform/xpc/Interface.h"
#include "platform/xpc/Message.h"

using namespace telvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const xpc::InterfacePtr service = [] {
        using xpc::ArgType;
        auto i = std::make_shared<xpc::Interface>("FuzzProtocol");
        auto none = [](const ValueArray&, const xpc::Reply&) {};
        i->add({"version:", {}, true, none});
        i->add({"objectForKey:reply:", {ArgType::String}, true, none});
        i->add({"setObject:forKey:", {ArgType::Any, ArgType::String}, false, none});
        i->add({"setInteger:forKey:", {ArgType::Integer, ArgType::String}, false, none});
        i->add({"setBonjourEnabled:", {ArgType::Number}, false, none});
        i->add({"lists:", {ArgType::Array, ArgType::Dictionary}, false, none});
        return i;
    }();
    if (size == 0) return 0;
    size_t piece = size_t(data[0]) * 4 + 1;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    size -= 1;
    xpc::MessageDecoder decoder;
    for (size_t at = 0; at < size && !decoder.failed(); at += piece) {
        size_t n = size - at < piece ? size - at : piece;
        for (const Value& message : decoder.feed(bytes + at, n)) {
            if (!message.isDictionary()) std::abort();
            ValueArray args;
            if (xpc::unpackArguments(message["args"], args)) {
                if (args.size() > 64) std::abort();
                std::string why = service->check(message["op"].stringValue(), args, message.has("id"));
                if (why.empty() && !service->find(message["op"].stringValue())) std::abort();
            }
            std::string again = xpc::encodeMessage(message);
            xpc::MessageDecoder check;
            if (check.feed(again.data(), again.size()).size() != 1) std::abort();
        }
    }
    return 0;
}
