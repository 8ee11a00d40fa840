#include "sim/fixture_json.h"

#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace cubesec::sim {

namespace {

using Json = nlohmann::ordered_json;

struct FixtureError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

std::string Indexed(const std::string& place, size_t index) {
  return place + "[" + std::to_string(index) + "]";
}

// One JSON object of the fixture: only the listed keys are allowed, each of its type.
class ObjectReader {
 public:
  ObjectReader(const Json& json, std::string place, std::initializer_list<const char*> keys)
      : json_(json), place_(std::move(place)) {
    if (!json.is_object()) throw FixtureError(Where() + "expected an object");
    for (const auto& item : json.items()) {
      bool known = false;
      for (const char* key : keys) known = known || item.key() == key;
      if (!known) throw FixtureError(Where() + "unknown key \"" + item.key() + "\"");
    }
  }

  std::string Place(const std::string& key) const {
    return place_.empty() ? key : place_ + "." + key;
  }

  const Json* Find(const char* key) const {
    auto it = json_.find(key);
    return it == json_.end() ? nullptr : &*it;
  }

  void Bool(const char* key, bool& out) const {
    const Json* value = Find(key);
    if (value == nullptr) return;
    if (!value->is_boolean()) throw FixtureError(Place(key) + ": expected true or false");
    out = value->get<bool>();
  }

  template <typename T>
  void Int(const char* key, T& out) const {
    const Json* value = Find(key);
    if (value == nullptr) return;
    constexpr int64_t kMin = std::numeric_limits<T>::min();
    constexpr uint64_t kMax = std::numeric_limits<T>::max();
    bool fits = false;
    if (value->is_number_unsigned()) {
      fits = value->get<uint64_t>() <= kMax;
    } else if (value->is_number_integer()) {
      fits = value->get<int64_t>() >= kMin && value->get<int64_t>() <= static_cast<int64_t>(kMax);
    }
    if (!fits) {
      throw FixtureError(Place(key) + ": expected an integer from " + std::to_string(kMin) +
                         " to " + std::to_string(kMax));
    }
    out = static_cast<T>(value->is_number_unsigned() ? static_cast<int64_t>(value->get<uint64_t>())
                                                     : value->get<int64_t>());
  }

  void String(const char* key, std::string& out, bool required = false) const {
    const Json* value = Find(key);
    if (value == nullptr) {
      if (required) throw FixtureError(Where() + "missing key \"" + key + "\"");
      return;
    }
    if (!value->is_string()) throw FixtureError(Place(key) + ": expected a string");
    out = value->get<std::string>();
  }

  void OptionalString(const char* key, std::optional<std::string>& out) const {
    if (Find(key) == nullptr) return;
    std::string text;
    String(key, text);
    out = std::move(text);
  }

  void Strings(const char* key, std::vector<std::string>& out) const {
    const Json* value = Find(key);
    if (value == nullptr) return;
    if (!value->is_array()) throw FixtureError(Place(key) + ": expected an array of strings");
    for (size_t i = 0; i < value->size(); ++i) {
      if (!(*value)[i].is_string()) {
        throw FixtureError(Indexed(Place(key), i) + ": expected a string");
      }
      out.push_back((*value)[i].get<std::string>());
    }
  }

  // Calls `each(element, place)` for every element of an array.
  template <typename Each>
  void Array(const char* key, Each&& each) const {
    const Json* value = Find(key);
    if (value == nullptr) return;
    if (!value->is_array()) throw FixtureError(Place(key) + ": expected an array");
    for (size_t i = 0; i < value->size(); ++i) each((*value)[i], Indexed(Place(key), i));
  }

  // Calls `each(key, value, place)` for every member of an object.
  template <typename Each>
  void Members(const char* key, Each&& each) const {
    const Json* value = Find(key);
    if (value == nullptr) return;
    if (!value->is_object()) throw FixtureError(Place(key) + ": expected an object");
    for (const auto& item : value->items()) {
      each(item.key(), item.value(), Place(key) + "." + item.key());
    }
  }

 private:
  std::string Where() const { return place_.empty() ? "" : place_ + ": "; }
  const Json& json_;
  std::string place_;
};

ImageFilter ReadFilter(const Json& json, const std::string& place) {
  ObjectReader r(json, place, {"name", "active", "default_access", "rows"});
  ImageFilter f;
  r.String("name", f.name, true);
  r.Bool("active", f.active);
  r.Int("default_access", f.default_access);
  r.Array("rows", [&](const Json& row_json, const std::string& row_place) {
    ObjectReader row(row_json, row_place, {"access", "text"});
    ImageFilterRow out;
    row.Int("access", out.access);
    row.String("text", out.text);
    f.rows.push_back(std::move(out));
  });
  return f;
}

ImageDatabase ReadDatabase(const Json& json, const std::string& place) {
  ObjectReader r(json, place,
                 {"name", "description", "loadable", "autoload", "default_access", "members",
                  "calc_scripts", "filters", "access"});
  ImageDatabase d;
  r.String("name", d.name, true);
  r.String("description", d.description);
  r.Bool("loadable", d.loadable);
  r.Bool("autoload", d.autoload);
  r.Int("default_access", d.default_access);
  r.Strings("members", d.members);
  r.Strings("calc_scripts", d.calc_scripts);
  r.Array("filters", [&](const Json& filter, const std::string& filter_place) {
    d.filters.push_back(ReadFilter(filter, filter_place));
  });
  r.Members("access", [&](const std::string& name, const Json& value, const std::string& at) {
    ObjectReader entry(value, at, {"access", "filter", "all_calcs", "calcs"});
    ImageDbAccess out;
    out.name = name;
    entry.Int("access", out.access);
    entry.String("filter", out.filter);
    entry.Bool("all_calcs", out.all_calcs);
    entry.Strings("calcs", out.calcs);
    d.access.push_back(std::move(out));
  });
  return d;
}

ImageApplication ReadApplication(const Json& json, const std::string& place) {
  ObjectReader r(
      json, place,
      {"name", "description", "loadable", "autoload", "default_access", "connects", "commands",
       "updates", "lock_timeout", "lro_size", "security", "access", "databases"});
  ImageApplication a;
  r.String("name", a.name, true);
  r.String("description", a.description);
  r.Bool("loadable", a.loadable);
  r.Bool("autoload", a.autoload);
  r.Int("default_access", a.default_access);
  r.Bool("connects", a.connects);
  r.Bool("commands", a.commands);
  r.Bool("updates", a.updates);
  r.Int("lock_timeout", a.lock_timeout);
  r.Int("lro_size", a.lro_size);
  r.Bool("security", a.security);
  r.Members("access", [&](const std::string& name, const Json& value, const std::string& at) {
    ImageAppAccess out;
    out.name = name;
    if (!value.is_number_integer() || value.get<int64_t>() < 0 || value.get<int64_t>() > 65535) {
      throw FixtureError(at + ": expected an integer from 0 to 65535");
    }
    out.access = static_cast<uint16_t>(value.get<int64_t>());
    a.access.push_back(std::move(out));
  });
  r.Array("databases", [&](const Json& db, const std::string& db_place) {
    a.databases.push_back(ReadDatabase(db, db_place));
  });
  return a;
}

ServerImage ReadImage(const Json& json) {
  ObjectReader r(
      json, "",
      {"api_version", "password_iterations", "global", "groups", "users", "applications"});
  ServerImage image;
  r.Int("api_version", image.global.api_version);
  r.Int("password_iterations", image.password_iterations);
  if (const Json* global = r.Find("global")) {
    ObjectReader g(*global, "global",
                   {"security", "logins", "default_access", "validity", "reserved", "min_length",
                    "timeout", "check_frequency"});
    g.Bool("security", image.global.security);
    g.Bool("logins", image.global.logins);
    g.Int("default_access", image.global.default_access);
    g.Int("validity", image.global.validity);
    g.Int("reserved", image.global.reserved);
    g.Int("min_length", image.global.min_length);
    g.Int("timeout", image.global.timeout);
    g.Int("check_frequency", image.global.check_frequency);
  }
  r.Array("groups", [&](const Json& group, const std::string& place) {
    ObjectReader g(group, place, {"name", "access", "supervisor"});
    ImageGroup out;
    g.String("name", out.name, true);
    g.Int("access", out.access);
    g.Bool("supervisor", out.supervisor);
    image.groups.push_back(std::move(out));
  });
  r.Array("users", [&](const Json& user, const std::string& place) {
    ObjectReader u(user, place,
                   {"name", "password", "access", "supervisor", "disabled", "password_expired",
                    "last_login", "groups"});
    ImageUser out;
    u.String("name", out.name, true);
    u.OptionalString("password", out.password);
    u.Int("access", out.access);
    u.Bool("supervisor", out.supervisor);
    u.Bool("disabled", out.disabled);
    u.Bool("password_expired", out.password_expired);
    u.Int("last_login", out.last_login);
    if (out.last_login < 0) throw FixtureError(u.Place("last_login") + ": must not be negative");
    u.Strings("groups", out.groups);
    image.users.push_back(std::move(out));
  });
  r.Array("applications", [&](const Json& app, const std::string& place) {
    image.applications.push_back(ReadApplication(app, place));
  });
  return image;
}

Json Strings(const std::vector<std::string>& names) {
  Json out = Json::array();
  for (const std::string& name : names) out.push_back(name);
  return out;
}

}  // namespace

std::optional<ServerImage> ParseFixture(const std::string& json_text, std::string* error) {
  Json json;
  try {
    json = Json::parse(json_text);
  } catch (const Json::parse_error& e) {
    if (error != nullptr) *error = std::string("not valid JSON: ") + e.what();
    return std::nullopt;
  }
  try {
    ServerImage image = ReadImage(json);
    std::string problem = ValidateImage(image);
    if (!problem.empty()) {
      if (error != nullptr) *error = problem;
      return std::nullopt;
    }
    ImplyApplicationAccess(image);
    return image;
  } catch (const FixtureError& e) {
    if (error != nullptr) *error = e.what();
    return std::nullopt;
  }
}

std::string FixtureJson(const ServerImage& image) {
  Json out;
  out["api_version"] = image.global.api_version;
  // Only a count of its own: a fixture of a server that kept the default follows it.
  if (image.password_iterations != kDefaultPasswordIterations) {
    out["password_iterations"] = image.password_iterations;
  }
  const ImageGlobal& g = image.global;
  out["global"] = {{"security", g.security},
                   {"logins", g.logins},
                   {"default_access", g.default_access},
                   {"validity", g.validity},
                   {"reserved", g.reserved},
                   {"min_length", g.min_length},
                   {"timeout", g.timeout},
                   {"check_frequency", g.check_frequency}};
  out["groups"] = Json::array();
  for (const ImageGroup& group : image.groups) {
    out["groups"].push_back(
        {{"name", group.name}, {"access", group.access}, {"supervisor", group.supervisor}});
  }
  out["users"] = Json::array();
  for (const ImageUser& u : image.users) {
    out["users"].push_back({{"name", u.name},
                            {"access", u.access},
                            {"supervisor", u.supervisor},
                            {"disabled", u.disabled},
                            {"password_expired", u.password_expired},
                            {"last_login", u.last_login},
                            {"groups", Strings(u.groups)}});
  }
  out["applications"] = Json::array();
  for (const ImageApplication& a : image.applications) {
    Json app = {{"name", a.name},
                {"description", a.description},
                {"loadable", a.loadable},
                {"autoload", a.autoload},
                {"default_access", a.default_access},
                {"connects", a.connects},
                {"commands", a.commands},
                {"updates", a.updates},
                {"lock_timeout", a.lock_timeout},
                {"lro_size", a.lro_size},
                {"security", a.security}};
    app["access"] = Json::object();
    for (const ImageAppAccess& entry : a.access) app["access"][entry.name] = entry.access;
    app["databases"] = Json::array();
    for (const ImageDatabase& d : a.databases) {
      Json db = {{"name", d.name},
                 {"description", d.description},
                 {"loadable", d.loadable},
                 {"autoload", d.autoload},
                 {"default_access", d.default_access},
                 {"members", Strings(d.members)},
                 {"calc_scripts", Strings(d.calc_scripts)}};
      db["filters"] = Json::array();
      for (const ImageFilter& f : d.filters) {
        Json rows = Json::array();
        for (const ImageFilterRow& row : f.rows) {
          rows.push_back({{"access", row.access}, {"text", row.text}});
        }
        db["filters"].push_back({{"name", f.name},
                                 {"active", f.active},
                                 {"default_access", f.default_access},
                                 {"rows", rows}});
      }
      db["access"] = Json::object();
      for (const ImageDbAccess& entry : d.access) {
        db["access"][entry.name] = {{"access", entry.access},
                                    {"filter", entry.filter},
                                    {"all_calcs", entry.all_calcs},
                                    {"calcs", Strings(entry.calcs)}};
      }
      app["databases"].push_back(std::move(db));
    }
    out["applications"].push_back(std::move(app));
  }
  return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace cubesec::sim
