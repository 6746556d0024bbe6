// OPC UA load for bench/gateway_opcua.sh: CLIENTS connections of node-opcua (npm, MIT), each
// with one session and one subscription on every measurement at sampling interval 0, for
// SECONDS; prints {"clients","notifications","per_client_per_second","lost",
// "answers_per_second"} as JSON: lost counts gaps in the seq each client saw, answers_per_second
// is the first client's seq between the first and the last answer's own times (the gateway's
// polling rate).
// Usage: node opcua_load.js ENDPOINT CLIENTS SECONDS
'use strict';
const opcua = require('node-opcua-client');
const [endpoint, clientsArg, secondsArg] = process.argv.slice(2);
const clients = Number(clientsArg);
const seconds = Number(secondsArg);
const nodes = ['value', 'left', 'right', 'um', 'in_tol', 'ana_max', 'ana_min', 'seq',
               'signal_reserve', 'video_line'].map((n) => `ns=1;s=sensor/Measurements/${n}`);

async function one(stats) {
    const client = opcua.OPCUAClient.create({
        applicationName: 'kvex-rtn bench', endpointMustExist: false,
        connectionStrategy: { maxRetry: 0 }, keepSessionAlive: false,
    });
    await client.connect(endpoint);
    const session = await client.createSession2();
    const subscription = await session.createSubscription2({
        requestedPublishingInterval: 100, requestedLifetimeCount: 1000,
        requestedMaxKeepAliveCount: 10, maxNotificationsPerPublish: 0, publishingEnabled: true,
    });
    let lastSeq = null;
    const mine = stats.clients++;
    nodes.forEach((node) => {
        const item = opcua.ClientMonitoredItem.create(subscription,
            { nodeId: node, attributeId: opcua.AttributeIds.Value },
            { samplingInterval: 0, discardOldest: true, queueSize: 100,
              filter: new opcua.DataChangeFilter({
                  trigger: opcua.DataChangeTrigger.StatusValueTimestamp,
                  deadbandType: opcua.DeadbandType.None }) },
            opcua.TimestampsToReturn.Source);
        item.on('changed', (dv) => {
            stats.notifications++;
            if (node.endsWith('/seq')) {
                const seq = dv.value.value;
                if (lastSeq !== null && seq > lastSeq + 1) stats.lost += seq - lastSeq - 1;
                lastSeq = seq;
                if (mine === 0 && stats.measuring) {
                    const at = dv.sourceTimestamp.getTime();
                    if (stats.firstSeq === null) {
                        stats.firstSeq = seq;
                        stats.firstAt = at;
                    }
                    stats.lastSeq = seq;
                    stats.lastAt = at;
                }
            }
        });
    });
    return { client, session, subscription };
}

async function main() {
    const stats = { notifications: 0, lost: 0, clients: 0, measuring: false,
                    firstSeq: null, lastSeq: null };
    const opened = [];
    for (let i = 0; i < clients; i++) opened.push(await one(stats));
    stats.notifications = 0;
    stats.lost = 0;
    stats.measuring = true;
    const started = Date.now();
    await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
    stats.measuring = false;
    const window = (Date.now() - started) / 1000;
    const notifications = stats.notifications;
    for (const o of opened) {
        await o.subscription.terminate();
        await o.session.close();
        await o.client.disconnect();
    }
    process.stdout.write(JSON.stringify({
        clients, notifications, lost: stats.lost,
        per_client_per_second: notifications / clients / window,
        // Between the first and the last answer's own times: the polling rate itself.
        answers_per_second: stats.firstSeq === null || stats.lastAt === stats.firstAt ? 0
            : (stats.lastSeq - stats.firstSeq) / ((stats.lastAt - stats.firstAt) / 1000),
    }) + '\n');
}
main().then(() => process.exit(0), (e) => { console.error(String(e)); process.exit(1); });
