#include "bridge/rtsp_server.h"

#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <linux/sockios.h>
#include <linux/tcp.h>  // tcp_info with the bytes acknowledged
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

#include "bridge/rtsp_path.h"
#include "bridge/rtsp_relay.h"

namespace {

constexpr guint kTickMs = 100;
constexpr int kMaxPoolThreads = 64;
// No request of ours carries more than a few bytes of body; a larger one is refused unread.
constexpr guint kMaxRequestBody = 16 * 1024;
// Connections beyond the client limit are still relayed (they get their 503 from the server), up
// to this many more; past that they are closed at once.
constexpr int kSpareConnections = 32;
constexpr auto kCloseWait = std::chrono::seconds(2);
constexpr const char* kRole = "viewer";
constexpr const char* kCodecKey = "pelloxview-codec";

// The elements every media needs, and the package each comes from.
constexpr std::pair<const char*, const char*> kElements[] = {
    {"appsrc", "gstreamer1.0-plugins-base"},     {"mulawenc", "gstreamer1.0-plugins-good"},
    {"rtppcmupay", "gstreamer1.0-plugins-good"}, {"rtpjpegpay", "gstreamer1.0-plugins-good"},
    {"rtpmp4vpay", "gstreamer1.0-plugins-good"}, {"mpeg4videoparse", "gstreamer1.0-plugins-bad"},
    {"jpegparse", "gstreamer1.0-plugins-bad"},   {"tee", "libgstreamer1.0-0"},
};

}  // namespace

struct CRtspServer::Shared {
  struct Client {
    bool admitted = false;
    uint32_t channels = 0;  // bit n: set up streams of channel n
    // Medias held prepared for the request being handled; let go with its answer.
    std::vector<GstRTSPMedia*> held;
    // The connection's socket, and when the client last took any of what was sent to it.
    int fd = -1;
    uint64_t acked = 0;
    std::chrono::steady_clock::time_point lastTaken;
  };

  std::array<std::shared_ptr<CRtspChannel>, kChannels> channels;
  std::chrono::milliseconds startTimeout{};
  int maxClients = 0;

  mutable std::mutex mutex;  // guards what follows
  int admitted = 0;
  std::map<const GstRTSPClient*, Client> clients;

  // Owned GLib and GStreamer objects; made by start(), released by the destructor.
  GMainContext* context = nullptr;
  GMainLoop* loop = nullptr;
  GstRTSPServer* server = nullptr;
  GstRTSPMountPoints* mounts = nullptr;
  GSource* timer = nullptr;
};

namespace {

using SharedPtr = std::shared_ptr<CRtspServer::Shared>;
using ChannelPtr = std::shared_ptr<CRtspChannel>;

// Every callback from GStreamer runs under this lock, and every object handed to GStreamer is
// made under it. GStreamer passes them between its threads through GLib's locks, which the
// thread sanitizer can't see; this one it sees, so our callbacks stay checked. Callbacks are few
// (a request, a new media, a tick), and none waits while holding it.
std::recursive_mutex& handOff() {
  static std::recursive_mutex mutex;
  return mutex;
}
using HandOff = std::lock_guard<std::recursive_mutex>;

// A callback's own reference, dropped when GLib lets go of the callback.
template <typename T>
void dropReference(gpointer data, GClosure*) {
  const HandOff handOffLock(handOff());
  delete static_cast<T*>(data);
}
template <typename T>
void dropReferenceNotify(gpointer data) {
  const HandOff handOffLock(handOff());
  delete static_cast<T*>(data);
}

}  // namespace

// What a channel's factory serves; set once before the factory is mounted.
struct FactoryData {
  ChannelPtr channel;
  std::chrono::milliseconds startTimeout;
};

// A media factory per channel: it builds the pipeline that fits the channel's codec, and tells
// the channel about the medias it makes.
struct PvChannelFactory {
  GstRTSPMediaFactory parent;
  // Owned, released in finalize. Published atomically: the factory is handed to the client
  // threads through GLib's locks, which the thread sanitizer can't see.
  FactoryData* data;
};
struct PvChannelFactoryClass {
  GstRTSPMediaFactoryClass parentClass;
};

G_DEFINE_TYPE(PvChannelFactory, pv_channel_factory, GST_TYPE_RTSP_MEDIA_FACTORY)

namespace {

PvChannelFactory* channelFactory(gpointer object) {
  return G_TYPE_CHECK_INSTANCE_CAST(object, pv_channel_factory_get_type(), PvChannelFactory);
}

FactoryData* factoryData(GstRTSPMediaFactory* factory) {
  return static_cast<FactoryData*>(g_atomic_pointer_get(&channelFactory(factory)->data));
}

GstElement* createElement(GstRTSPMediaFactory* factory, const GstRTSPUrl*) {
  ChannelPtr channel;
  std::chrono::milliseconds timeout{};
  {
    const HandOff handOffLock(handOff());
    const FactoryData* data = factoryData(factory);
    if (data == nullptr) return nullptr;
    channel = data->channel;
    timeout = data->startTimeout;
  }
  const auto codec = channel->waitForCodec(timeout);
  if (!codec) return nullptr;  // the DESCRIBE gets an error
  GError* error = nullptr;
  GstElement* element = gst_parse_launch_full(CRtspChannel::pipelineFor(*codec).c_str(), nullptr,
                                              GST_PARSE_FLAG_PLACE_IN_BIN, &error);
  if (error != nullptr) {
    g_error_free(error);
    if (element != nullptr) gst_object_unref(element);
    return nullptr;
  }
  g_object_set_data(G_OBJECT(element), kCodecKey, GINT_TO_POINTER(static_cast<int>(*codec) + 1));
  return element;
}

void onUnprepared(GstRTSPMedia* media, gpointer data) {
  const HandOff handOffLock(handOff());
  (*static_cast<ChannelPtr*>(data))->detach(media);
}

void onMediaGone(gpointer data, GObject* media) {
  const HandOff handOffLock(handOff());
  auto* channel = static_cast<ChannelPtr*>(data);
  (*channel)->detach(reinterpret_cast<GstRTSPMedia*>(media));
  delete channel;
}

// GStreamer's server feeds each kind of client (UDP, TCP) through its own queue of one packet
// behind a tee. A TCP client that stops reading stops its queue, the tee waits for it, and every
// other client of the channel freezes with it, UDP ones for as long as the stalled client keeps
// its session. The queues get room for a few seconds of video and drop the oldest packets beyond
// that, so a stalled client loses its own packets and nobody else's.
constexpr guint64 kClientQueueBytes = 4 * 1024 * 1024;

void onElementAdded(GstBin* pipeline, GstBin* parent, GstElement* element, gpointer) {
  if (parent != pipeline) return;  // rtpbin's own elements, and our bin
  GstElementFactory* factory = gst_element_get_factory(element);
  if (factory == nullptr || std::string_view(GST_OBJECT_NAME(factory)) != "queue") return;
  g_object_set(element, "max-size-buffers", 0u, "max-size-time", guint64{0}, "max-size-bytes",
               static_cast<guint>(kClientQueueBytes), nullptr);
  gst_util_set_object_arg(G_OBJECT(element), "leaky", "downstream");
}

void configureMedia(GstRTSPMediaFactory* factory, GstRTSPMedia* media) {
  const HandOff handOffLock(handOff());
  GST_RTSP_MEDIA_FACTORY_CLASS(pv_channel_factory_parent_class)->configure(factory, media);
  const FactoryData* data = factoryData(factory);
  GstElement* element = gst_rtsp_media_get_element(media);
  if (element == nullptr) return;
  if (GstObject* pipeline = gst_object_get_parent(GST_OBJECT(element)); pipeline != nullptr) {
    if (GST_IS_BIN(pipeline))
      g_signal_connect(pipeline, "deep-element-added", G_CALLBACK(onElementAdded), nullptr);
    gst_object_unref(pipeline);
  }
  if (data == nullptr) {
    gst_object_unref(element);
    return;
  }
  const int codec = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(element), kCodecKey));
  gst_object_unref(element);
  if (codec == 0) return;
  data->channel->attach(media, static_cast<LiveCodec>(codec - 1));
  // After the factory's own handler, which takes the media out of its cache: a client that
  // waited for the media to go then gets a new one.
  g_signal_connect_data(media, "unprepared", G_CALLBACK(onUnprepared),
                        new ChannelPtr(data->channel), dropReference<ChannelPtr>, G_CONNECT_AFTER);
  g_object_weak_ref(G_OBJECT(media), onMediaGone, new ChannelPtr(data->channel));
}

}  // namespace

static void pv_channel_factory_finalize(GObject* object) {
  const HandOff handOffLock(handOff());
  PvChannelFactory* self = channelFactory(object);
  delete static_cast<FactoryData*>(g_atomic_pointer_get(&self->data));
  g_atomic_pointer_set(&self->data, nullptr);
  G_OBJECT_CLASS(pv_channel_factory_parent_class)->finalize(object);
}

static void pv_channel_factory_class_init(PvChannelFactoryClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = pv_channel_factory_finalize;
  GST_RTSP_MEDIA_FACTORY_CLASS(klass)->create_element = createElement;
  GST_RTSP_MEDIA_FACTORY_CLASS(klass)->configure = configureMedia;
}

static void pv_channel_factory_init(PvChannelFactory* self) {
  g_atomic_pointer_set(&self->data, nullptr);
}

namespace {

CRtspServer::Shared& sharedOf(gpointer data) {
  return **static_cast<SharedPtr*>(data);
}

// Every request of a connection beyond the limit is answered 503.
GstRTSPStatusCode admitOrRefuse(GstRTSPClient* client, GstRTSPContext*, gpointer data) {
  const HandOff handOffLock(handOff());
  CRtspServer::Shared& shared = sharedOf(data);
  std::lock_guard lock(shared.mutex);
  const auto found = shared.clients.find(client);
  return found != shared.clients.end() && found->second.admitted ? GST_RTSP_STS_OK
                                                                 : GST_RTSP_STS_SERVICE_UNAVAILABLE;
}

int channelOfContext(const GstRTSPContext* context) {
  if (context == nullptr || context->uri == nullptr || context->uri->abspath == nullptr) return -1;
  return rtspChannelOfPath(context->uri->abspath);
}

// A client that comes while its channel's media is being taken down (its last client just left)
// would get that media and a 503: it waits for the media to go, then gets a new one. A client
// that comes just before holds the live media for its request, so that the last client leaving
// meanwhile doesn't take it down under it.
constexpr auto kClosingWait = std::chrono::seconds(3);

GstRTSPStatusCode admitAfterClosing(GstRTSPClient* client, GstRTSPContext* context, gpointer data) {
  const GstRTSPStatusCode admitted = admitOrRefuse(client, context, data);
  const int channel = channelOfContext(context);
  if (admitted != GST_RTSP_STS_OK || channel < 0) return admitted;
  ChannelPtr target;
  {
    const HandOff handOffLock(handOff());
    target = sharedOf(data).channels[static_cast<size_t>(channel)];
  }
  GstRTSPMedia* held = target->holdLiveMedia(kClosingWait);
  if (held == nullptr) return GST_RTSP_STS_OK;
  {
    const HandOff handOffLock(handOff());
    CRtspServer::Shared& shared = sharedOf(data);
    std::lock_guard lock(shared.mutex);
    const auto found = shared.clients.find(client);
    if (found != shared.clients.end()) {
      found->second.held.push_back(held);
      return GST_RTSP_STS_OK;
    }
  }
  CRtspChannel::releaseMedia(held);
  return GST_RTSP_STS_OK;
}

// Outside every lock of ours: letting the last hold go takes the media down, which calls back.
void releaseHeld(GstRTSPClient* client, gpointer data) {
  std::vector<GstRTSPMedia*> held;
  {
    const HandOff handOffLock(handOff());
    CRtspServer::Shared& shared = sharedOf(data);
    std::lock_guard lock(shared.mutex);
    const auto found = shared.clients.find(client);
    if (found != shared.clients.end()) held.swap(found->second.held);
  }
  for (GstRTSPMedia* media : held) CRtspChannel::releaseMedia(media);
}

// The answer to a request goes out once the request took its own hold of the media, or failed.
void onSendMessage(GstRTSPClient* client, GstRTSPContext*, GstRTSPMessage*, gpointer data) {
  releaseHeld(client, data);
}

// Notes whether the client has streams of the request's channel set up.
void markChannel(GstRTSPClient* client, GstRTSPContext* context, gpointer data, bool setUp) {
  const HandOff handOffLock(handOff());
  const int channel = channelOfContext(context);
  if (channel < 0) return;
  CRtspServer::Shared& shared = sharedOf(data);
  std::lock_guard lock(shared.mutex);
  const auto found = shared.clients.find(client);
  if (found == shared.clients.end()) return;
  const uint32_t bit = 1u << channel;
  found->second.channels = setUp ? found->second.channels | bit : found->second.channels & ~bit;
}

void onSetup(GstRTSPClient* client, GstRTSPContext* context, gpointer data) {
  markChannel(client, context, data, true);
}

void onTeardown(GstRTSPClient* client, GstRTSPContext* context, gpointer data) {
  markChannel(client, context, data, false);
}

void onClosed(GstRTSPClient* client, gpointer data) {
  std::vector<GstRTSPMedia*> held;
  {
    const HandOff handOffLock(handOff());
    CRtspServer::Shared& shared = sharedOf(data);
    std::lock_guard lock(shared.mutex);
    const auto found = shared.clients.find(client);
    if (found == shared.clients.end()) return;
    if (found->second.admitted) --shared.admitted;
    held.swap(found->second.held);
    shared.clients.erase(found);
  }
  for (GstRTSPMedia* media : held) CRtspChannel::releaseMedia(media);
}

void connectClient(GstRTSPClient* client, const char* signal, GCallback callback,
                   const SharedPtr& shared) {
  g_signal_connect_data(client, signal, callback, new SharedPtr(shared), dropReference<SharedPtr>,
                        GConnectFlags{});
}

void onClientConnected(GstRTSPServer*, GstRTSPClient* client, gpointer data) {
  const HandOff handOffLock(handOff());
  const SharedPtr& shared = *static_cast<SharedPtr*>(data);
  gst_rtsp_client_set_content_length_limit(client, kMaxRequestBody);
  {
    std::lock_guard lock(shared->mutex);
    CRtspServer::Shared::Client state;
    if (GstRTSPConnection* connection = gst_rtsp_client_get_connection(client))
      if (GSocket* socket = gst_rtsp_connection_get_write_socket(connection))
        state.fd = g_socket_get_fd(socket);
    state.lastTaken = std::chrono::steady_clock::now();
    state.admitted = shared->admitted < shared->maxClients;
    if (state.admitted) ++shared->admitted;
    shared->clients[client] = state;
  }
  for (const char* signal :
       {"pre-play-request", "pre-get-parameter-request", "pre-set-parameter-request",
        "pre-announce-request", "pre-record-request"})
    connectClient(client, signal, G_CALLBACK(admitOrRefuse), shared);
  for (const char* signal : {"pre-describe-request", "pre-setup-request"})
    connectClient(client, signal, G_CALLBACK(admitAfterClosing), shared);
  connectClient(client, "setup-request", G_CALLBACK(onSetup), shared);
  connectClient(client, "teardown-request", G_CALLBACK(onTeardown), shared);
  connectClient(client, "send-message", G_CALLBACK(onSendMessage), shared);
  connectClient(client, "closed", G_CALLBACK(onClosed), shared);
}

// A client that has taken nothing of what is waiting for it this long has stopped reading.
// GStreamer's server hands every packet of a channel to all its TCP clients in turn, and a full
// connection can hold up the whole channel; such a client is let go.
constexpr auto kStallLimit = std::chrono::seconds(2);

// Whether the client has taken nothing for kStallLimit while data waits for it; notes progress.
bool stoppedReading(CRtspServer::Shared::Client& state, std::chrono::steady_clock::time_point now) {
  if (state.fd < 0) return false;
  int unsent = 0;
  tcp_info info{};
  socklen_t length = sizeof info;
  if (::ioctl(state.fd, SIOCOUTQ, &unsent) != 0 ||
      ::getsockopt(state.fd, IPPROTO_TCP, TCP_INFO, &info, &length) != 0)
    return false;
  if (unsent == 0 || info.tcpi_bytes_acked != state.acked) {
    state.acked = info.tcpi_bytes_acked;
    state.lastTaken = now;
    return false;
  }
  return now - state.lastTaken >= kStallLimit;
}

GstRTSPFilterResult closeListed(GstRTSPServer*, GstRTSPClient* client, gpointer data) {
  const auto& listed = *static_cast<std::vector<const GstRTSPClient*>*>(data);
  return std::find(listed.begin(), listed.end(), client) != listed.end() ? GST_RTSP_FILTER_REMOVE
                                                                         : GST_RTSP_FILTER_KEEP;
}

gboolean onTick(gpointer data) {
  std::vector<const GstRTSPClient*> stalled;
  GstRTSPServer* server = nullptr;
  {
    const HandOff handOffLock(handOff());
    CRtspServer::Shared& shared = sharedOf(data);
    const auto now = std::chrono::steady_clock::now();
    for (const auto& channel : shared.channels) channel->tick(now, shared.startTimeout);
    std::lock_guard lock(shared.mutex);
    for (auto& [client, state] : shared.clients)
      if (stoppedReading(state, now)) stalled.push_back(client);
    server = shared.server;
  }
  // Closing runs the clients' own callbacks, which take the locks above.
  if (!stalled.empty()) gst_rtsp_server_client_filter(server, closeListed, &stalled);
  return G_SOURCE_CONTINUE;
}

// A relayed connection becomes the server's client, with the address of the client itself.
bool handOverClient(const SharedPtr& shared, int fd, const std::string& ip, uint16_t port) {
  GError* failure = nullptr;
  GSocket* socket = g_socket_new_from_fd(fd, &failure);
  if (socket == nullptr) {
    if (failure != nullptr) g_error_free(failure);
    ::close(fd);
    return false;
  }
  const HandOff handOffLock(handOff());
  return gst_rtsp_server_transfer_connection(shared->server, socket, ip.c_str(), port, nullptr) ==
         TRUE;  // takes the socket
}

GstRTSPFilterResult closeEvery(GstRTSPServer*, GstRTSPClient*, gpointer) {
  return GST_RTSP_FILTER_REMOVE;
}

std::string mountPath(size_t channel) {
  return "/channel/" + std::to_string(channel + 1);
}

}  // namespace

CRtspServer::CRtspServer(RtspSettings settings)
    : settings_(std::move(settings)), shared_(std::make_shared<Shared>()) {
  for (size_t n = 0; n < kChannels; ++n)
    shared_->channels[n] = std::make_shared<CRtspChannel>(static_cast<uint8_t>(n));
  shared_->startTimeout = settings_.startTimeout;
  shared_->maxClients = settings_.maxClients;
}

bool CRtspServer::start(std::string* error) {
  gst_init(nullptr, nullptr);
  for (const auto& [element, package] : kElements) {
    GstElementFactory* factory = gst_element_factory_find(element);
    if (factory == nullptr) {
      *error = std::string("the GStreamer element '") + element + "' is missing (install " +
               package + ")";
      return false;
    }
    gst_object_unref(factory);
  }
  Shared& shared = *shared_;
  shared.context = g_main_context_new();
  shared.loop = g_main_loop_new(shared.context, FALSE);
  shared.server = gst_rtsp_server_new();
  if (settings_.users != nullptr) {
    GstRTSPAuth* auth = gst_rtsp_auth_new();
    gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
    gst_rtsp_auth_set_realm(auth, "PelloxView bridge");
    GstRTSPToken* token =
        gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kRole, nullptr);
    for (const auto& [user, password] : settings_.users->entries())
      gst_rtsp_auth_add_digest(auth, user.c_str(), password.c_str(), token);
    gst_rtsp_token_unref(token);
    gst_rtsp_server_set_auth(shared.server, auth);
    g_object_unref(auth);
  }
  GstRTSPThreadPool* pool = gst_rtsp_server_get_thread_pool(shared.server);
  gst_rtsp_thread_pool_set_max_threads(pool, std::min(settings_.maxClients, kMaxPoolThreads));
  g_object_unref(pool);
  shared.mounts = gst_rtsp_server_get_mount_points(shared.server);
  g_signal_connect_data(shared.server, "client-connected", G_CALLBACK(onClientConnected),
                        new SharedPtr(shared_), dropReference<SharedPtr>, GConnectFlags{});

  // The server listens on no socket of its own: the relay accepts the clients and hands each over.
  RtspRelaySettings relaySettings;
  relaySettings.address = settings_.address;
  relaySettings.maxConnections = static_cast<size_t>(settings_.maxClients + kSpareConnections);
  relaySettings.limits.maxBodyBytes = kMaxRequestBody;
  relay_ = std::make_unique<CRtspRelay>(
      relaySettings, [shared = shared_](int fd, const std::string& ip, uint16_t port) {
        return handOverClient(shared, fd, ip, port);
      });
  std::string failure;
  if (!relay_->listen(&failure)) {
    *error = "cannot listen for RTSP on " + settings_.address.host + ":" +
             std::to_string(settings_.address.port) + ": " + failure;
    relay_.reset();
    return false;
  }
  port_ = relay_->port();
  shared.timer = g_timeout_source_new(kTickMs);
  g_source_set_callback(shared.timer, onTick, new SharedPtr(shared_),
                        dropReferenceNotify<SharedPtr>);
  g_source_attach(shared.timer, shared.context);

  GMainContext* context = shared.context;
  GMainLoop* loop = shared.loop;
  thread_ = std::thread([context, loop] {
    g_main_context_push_thread_default(context);
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(context);
  });
  relay_->start();
  return true;
}

CRtspServer::~CRtspServer() {
  Shared& shared = *shared_;
  if (shared.server != nullptr) {
    // No new clients, no new medias; the clients' sessions and medias go with them.
    for (size_t n = 0; n < kChannels; ++n)
      if ((offered_ >> n) & 1u)
        gst_rtsp_mount_points_remove_factory(shared.mounts, mountPath(n).c_str());
    relay_.reset();  // no new clients; the relayed ones see their connections close
    gst_rtsp_server_client_filter(shared.server, closeEvery, nullptr);
    const auto deadline = std::chrono::steady_clock::now() + kCloseWait;
    while (std::chrono::steady_clock::now() < deadline) {
      const ChannelArray alive = watchers();
      if (std::all_of(alive.begin(), alive.end(), [](int n) { return n == 0; })) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (thread_.joinable()) {
    g_main_loop_quit(shared.loop);
    thread_.join();
  }
  if (shared.timer != nullptr) {
    g_source_destroy(shared.timer);
    g_source_unref(shared.timer);
  }
  if (shared.server != nullptr) gst_rtsp_thread_pool_cleanup();  // joins the pool's threads
  if (shared.mounts != nullptr) g_object_unref(shared.mounts);
  if (shared.server != nullptr) g_object_unref(shared.server);
  if (shared.loop != nullptr) g_main_loop_unref(shared.loop);
  if (shared.context != nullptr) g_main_context_unref(shared.context);
}

void CRtspServer::setOffered(uint32_t mask) {
  const HandOff handOffLock(handOff());
  if (shared_->mounts == nullptr || mask == offered_) return;
  // From the masks of what changed, not from two flags a channel compared for equality: g++ 12.2
  // at -O2 (its value-range pass) miscompiles `bool was = (a >> n) & 1, is = (b >> n) & 1;
  // if (was == is) continue;` when n varies, and the optimised bridge then mounted no channel.
  const uint32_t added = mask & ~offered_;
  const uint32_t removed = offered_ & ~mask;
  for (size_t n = 0; n < kChannels; ++n) {
    if ((removed >> n) & 1u)
      gst_rtsp_mount_points_remove_factory(shared_->mounts, mountPath(n).c_str());
    if (((added >> n) & 1u) == 0) continue;
    auto* factory = channelFactory(g_object_new(pv_channel_factory_get_type(), nullptr));
    auto* data = new FactoryData{shared_->channels[n], settings_.startTimeout};
    g_atomic_pointer_set(&factory->data, data);
    GstRTSPMediaFactory* base = GST_RTSP_MEDIA_FACTORY(factory);
    gst_rtsp_media_factory_set_shared(base, TRUE);
    if (settings_.users != nullptr) {
      gst_rtsp_media_factory_add_role(base, kRole, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                                      G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT,
                                      G_TYPE_BOOLEAN, TRUE, nullptr);
    }
    gst_rtsp_mount_points_add_factory(shared_->mounts, mountPath(n).c_str(), base);  // takes it
  }
  offered_ = mask;
}

void CRtspServer::pushVideo(uint8_t channel, LiveCodec codec, const uint8_t* data, size_t length,
                            std::chrono::steady_clock::time_point arrival) {
  if (channel < kChannels) shared_->channels[channel]->pushVideo(codec, data, length, arrival);
}

void CRtspServer::pushAudio(uint8_t channel, const int16_t* samples, size_t count,
                            std::chrono::steady_clock::time_point arrival) {
  if (channel < kChannels) shared_->channels[channel]->pushAudio(samples, count, arrival);
}

CRtspServer::ChannelArray CRtspServer::watchers() const {
  ChannelArray result{};
  for (size_t n = 0; n < kChannels; ++n) result[n] = shared_->channels[n]->watchers();
  return result;
}

CRtspServer::ChannelArray CRtspServer::clients() const {
  ChannelArray result{};
  std::lock_guard lock(shared_->mutex);
  for (const auto& [client, state] : shared_->clients)
    for (size_t n = 0; n < kChannels; ++n) result[n] += (state.channels >> n) & 1u;
  return result;
}

int CRtspServer::audioChannel() const {
  int chosen = -1;
  std::optional<std::chrono::steady_clock::time_point> oldest;
  for (size_t n = 0; n < kChannels; ++n) {
    const auto since = shared_->channels[n]->watchedSince();
    if (since && (!oldest || *since < *oldest)) {
      oldest = since;
      chosen = static_cast<int>(n);
    }
  }
  return chosen;
}

RtspFitCounts CRtspServer::fitCounts(uint8_t channel) const {
  return channel < kChannels ? shared_->channels[channel]->fitCounts() : RtspFitCounts{};
}
