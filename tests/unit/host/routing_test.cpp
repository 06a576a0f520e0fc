// Queue data fields, service answers and the --service option.
#include <gtest/gtest.h>

#include "qmhost/routing.h"

TEST(Routing, FindsQueueDataFieldsByExactKey) {
  const std::string data = "service_name_x:no\nservice_name:mux\nip:1:2\nlast:end";
  EXPECT_EQ(qmhost::QueueDataField(data, "service_name"), "mux");
  EXPECT_EQ(qmhost::QueueDataField(data, "ip"), "1:2");  // the first colon separates
  EXPECT_EQ(qmhost::QueueDataField(data, "last"), "end");  // the last line may lack \n
  EXPECT_FALSE(qmhost::QueueDataField(data, "missing").has_value());
  EXPECT_FALSE(qmhost::QueueDataField("", "service_name").has_value());
}

TEST(Routing, ServiceAnswersAndOptions) {
  EXPECT_EQ(qmhost::ServiceLookupAnswer("mux", {"127.0.0.1", 7000}),
            "service_name:mux\nip_address:127.0.0.1\ntcp_port:7000\n");
  auto parsed = qmhost::ParseServiceOption("mux=host.example:7001");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->first, "mux");
  EXPECT_EQ(parsed->second.host, "host.example");
  EXPECT_EQ(parsed->second.port, 7001);
  EXPECT_EQ(qmhost::ParseServiceOption("v6=::1:80")->second.host, "::1");
  for (const char* bad : {"mux", "=h:1", "mux=h", "mux=:1", "mux=h:0", "mux=h:65536", "mux=h:8x"})
    EXPECT_FALSE(qmhost::ParseServiceOption(bad)) << bad;
}

TEST(Routing, SubscribersAreKeptOnceInOrder) {
  qmhost::Subscriptions subscriptions;
  EXPECT_TRUE(subscriptions.Add("q", 1));
  EXPECT_TRUE(subscriptions.Add("q", 0));
  EXPECT_FALSE(subscriptions.Add("q", 1));
  EXPECT_EQ(subscriptions.Of("q"), (std::vector<int>{1, 0}));
  subscriptions.RemovePlugin(1);
  EXPECT_EQ(subscriptions.Of("q"), (std::vector<int>{0}));
  EXPECT_TRUE(subscriptions.Of("other").empty());
}
