#include "standins/plugins/not_implemented_channel.h"

#include "standins/plugin_registrar_api.h"

namespace talvor::standins {

namespace {

void AnswerNotImplemented(FlutterDesktopMessenger* messenger, const FlutterDesktopMessage* message, void*) {
  if (message != nullptr) FlutterDesktopMessengerSendResponse(messenger, message->response_handle, nullptr, 0);
}

}  // namespace

void RegisterNotImplementedChannel(FlutterDesktopPluginRegistrar* registrar, const char* channel) {
  FlutterDesktopMessenger* messenger = TalvorStandinRegistrarGetMessenger(registrar);
  if (messenger != nullptr) FlutterDesktopMessengerSetCallback(messenger, channel, &AnswerNotImplemented, nullptr);
}

}  // namespace talvor::standins
