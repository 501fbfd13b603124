#include "platform/xpc/Object.h"

#include <cinttypes>
#include <cstdio>

namespace telvo::xpc {

Object Object::boolean(bool b) { Object o; o.v_ = b; return o; }
Object Object::int64(int64_t i) { Object o; o.v_ = i; return o; }
Object Object::uint64(uint64_t i) { Object o; o.v_ = UnsignedTag{i}; return o; }
Object Object::real(double d) { Object o; o.v_ = DoubleTag{d}; return o; }
Object Object::data(Bytes bytes) { Object o; o.v_ = std::move(bytes); return o; }
Object Object::string(std::string bytes) { Object o; o.v_ = StringTag{std::move(bytes)}; return o; }
Object Object::date(int64_t nanoseconds) { Object o; o.v_ = DateTag{nanoseconds}; return o; }
Object Object::uuid(const UUIDBytes& bytes) { Object o; o.v_ = bytes; return o; }
Object Object::array(ObjectArray elements) {
    Object o;
    o.v_ = std::make_shared<ObjectArray>(std::move(elements));
    return o;
}
Object Object::dictionary(ObjectDictionary entries) {
    Object o;
    o.v_ = std::make_shared<ObjectDictionary>(std::move(entries));
    return o;
}

const char* Object::typeName() const {
    static const char* const kNames[] = {"null", "bool",   "int64", "uint64", "double",    "data",
                                         "string", "date", "uuid",  "array",  "dictionary"};
    return kNames[v_.index()];
}

bool Object::boolValue() const { return type() == Type::Bool && std::get<bool>(v_); }
int64_t Object::int64Value() const { return type() == Type::Int64 ? std::get<int64_t>(v_) : 0; }
uint64_t Object::uint64Value() const { return type() == Type::UInt64 ? std::get<UnsignedTag>(v_).u : 0; }
double Object::doubleValue() const { return type() == Type::Double ? std::get<DoubleTag>(v_).d : 0; }
int64_t Object::dateValue() const { return type() == Type::Date ? std::get<DateTag>(v_).ns : 0; }

const Bytes& Object::dataValue() const {
    static const Bytes kEmpty;
    return type() == Type::Data ? std::get<Bytes>(v_) : kEmpty;
}

const std::string& Object::stringValue() const {
    static const std::string kEmpty;
    return type() == Type::String ? std::get<StringTag>(v_).s : kEmpty;
}

UUIDBytes Object::uuidValue() const { return type() == Type::UUID ? std::get<UUIDBytes>(v_) : UUIDBytes{}; }

const ObjectArray& Object::arrayValue() const {
    static const ObjectArray kEmpty;
    return type() == Type::Array ? *std::get<std::shared_ptr<ObjectArray>>(v_) : kEmpty;
}

const ObjectDictionary& Object::dictionaryValue() const {
    static const ObjectDictionary kEmpty;
    return type() == Type::Dictionary ? *std::get<std::shared_ptr<ObjectDictionary>>(v_) : kEmpty;
}

void Object::append(Object element) {
    if (type() != Type::Array) v_ = std::make_shared<ObjectArray>();
    auto& shared = std::get<std::shared_ptr<ObjectArray>>(v_);
    if (shared.use_count() > 1) shared = std::make_shared<ObjectArray>(*shared);
    shared->push_back(std::move(element));
}

void Object::set(const std::string& key, Object value) {
    if (type() != Type::Dictionary) v_ = std::make_shared<ObjectDictionary>();
    auto& shared = std::get<std::shared_ptr<ObjectDictionary>>(v_);
    if (shared.use_count() > 1) shared = std::make_shared<ObjectDictionary>(*shared);
    (*shared)[key] = std::move(value);
}

const Object* Object::get(const std::string& key) const {
    if (type() != Type::Dictionary) return nullptr;
    const ObjectDictionary& entries = dictionaryValue();
    auto it = entries.find(key);
    return it == entries.end() ? nullptr : &it->second;
}

size_t Object::count() const {
    switch (type()) {
        case Type::Array: return arrayValue().size();
        case Type::Dictionary: return dictionaryValue().size();
        case Type::Data: return dataValue().size();
        case Type::String: return stringValue().size();
        default: return 0;
    }
}

std::string Object::description() const {
    char buffer[64];
    std::string out = std::string("<") + typeName();
    switch (type()) {
        case Type::Null: break;
        case Type::Bool: out += boolValue() ? ": true" : ": false"; break;
        case Type::Int64: std::snprintf(buffer, sizeof buffer, ": %" PRId64, int64Value()); out += buffer; break;
        case Type::UInt64: std::snprintf(buffer, sizeof buffer, ": %" PRIu64, uint64Value()); out += buffer; break;
        case Type::Double: std::snprintf(buffer, sizeof buffer, ": %.17g", doubleValue()); out += buffer; break;
        case Type::Date: std::snprintf(buffer, sizeof buffer, ": %" PRId64 " ns", dateValue()); out += buffer; break;
        case Type::Data: out += ": length " + std::to_string(count()); break;
        case Type::String: {
            // Bytes outside printable ASCII are shown as \xNN, so a log line stays one line.
            out += ": \"";
            for (unsigned char c : stringValue()) {
                if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
                    out += char(c);
                } else {
                    std::snprintf(buffer, sizeof buffer, "\\x%02x", c);
                    out += buffer;
                }
            }
            out += "\"";
            break;
        }
        case Type::UUID: {
            out += ": ";
            UUIDBytes u = uuidValue();
            for (size_t i = 0; i < u.size(); ++i) {
                if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
                std::snprintf(buffer, sizeof buffer, "%02X", u[i]);
                out += buffer;
            }
            break;
        }
        case Type::Array:
        case Type::Dictionary: out += ": count " + std::to_string(count()); break;
    }
    return out + ">";
}

bool Object::operator==(const Object& other) const {
    if (type() != other.type()) return false;
    if (type() == Type::Array) return arrayValue() == other.arrayValue();
    if (type() == Type::Dictionary) return dictionaryValue() == other.dictionaryValue();
    return v_ == other.v_;
}

}  // namespace telvo::xpc
