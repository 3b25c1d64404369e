#include "json.h"

namespace taviskclient {

namespace {

std::string dumpString(std::string_view text, Json::error_handler_t invalid)
{
    return Json(std::string(text)).dump(-1, ' ', false, invalid);
}

} // namespace

bool parseJson(std::string_view text, Json &value)
{
    // The reader reports every container it opens with the depth it opens it at; one too deep
    // is dropped at once, so that a deep document is never built, and the text refused.
    bool tooDeep = false;
    const Json::parser_callback_t depthLimit
        = [&tooDeep](int depth, Json::parse_event_t event, Json &) {
              if ((event == Json::parse_event_t::object_start
                   || event == Json::parse_event_t::array_start)
                  && static_cast<std::size_t>(depth) >= kMaxJsonDepth) {
                  tooDeep = true;
                  return false;
              }
              return true;
          };
    // No exceptions (the third argument): a text that does not read gives a discarded value.
    // Comments stay refused (the fourth, the default).
    value = Json::parse(text.begin(), text.end(), depthLimit, false);
    if (value.is_discarded() || tooDeep) {
        value = nullptr;
        return false;
    }
    return true;
}

const Json *jsonMember(const Json *object, std::string_view key)
{
    if (object == nullptr || !object->is_object())
        return nullptr;
    const auto found = object->find(key);
    return found != object->end() ? &*found : nullptr;
}

const std::string *jsonString(const Json *value)
{
    return value != nullptr ? value->get_ptr<const std::string *>() : nullptr;
}

void appendJsonString(std::string &out, std::string_view text)
{
    out += dumpString(text, Json::error_handler_t::replace);
}

bool isValidUtf8(std::string_view text)
{
    // The writer's UTF-8 decoder is strict; where it finds a byte that starts no character,
    // replacing writes U+FFFD and ignoring writes nothing, so the two agree only on valid text.
    return dumpString(text, Json::error_handler_t::replace)
        == dumpString(text, Json::error_handler_t::ignore);
}

} // namespace taviskclient
