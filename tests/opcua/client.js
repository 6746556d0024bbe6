// An independent OPC UA client for the gateway's tests: node-opcua (npm, MIT), not open62541.
// Usage: node client.js 'PLAN'. PLAN is JSON: {"endpoint", "securityMode" ("None", "Sign",
// "SignAndEncrypt"), "securityPolicy" ("None", "Basic256Sha256", "Aes256_Sha256_RsaPss"),
// "user", "password", "pki" (a folder for the client's certificates), "sessions" (open that many
// at once and close them), "actions": [...]}. Each action's result is one element of the printed
// JSON array, in order; an action that fails gives {"error": status or message}.
//   {"op": "browse"}: every node below Objects in the gateway's namespace, as
//     {"path", "nodeId", "nodeClass", "value"}
//   {"op": "read", "nodes": [ID, ...]}: [{"value", "status", "sourceTimestamp"}, ...]
//   {"op": "subscribe", "nodes": [ID, ...], "seconds": S, "samplingInterval": MS,
//     "queueSize": N}: per node [{"value", "sourceTimestamp"}, ...] in the order they came, with
//     the trigger StatusValueTimestamp, so a value that repeats is reported again
//   {"op": "write", "node": ID, "dataType": "UInt16", "value": V}: {"status"}
//   {"op": "call", "object": ID, "method": ID, "inputs": [{"dataType", "value", "array"}]}:
//     {"status", "outputs": [...]}
//   {"op": "history", "node": ID, "start": ISO, "end": ISO, "max": N}:
//     {"status", "values": [{"value", "sourceTimestamp"}, ...]}
'use strict';
const opcua = require('node-opcua-client');
const { OPCUACertificateManager } = require('node-opcua-certificate-manager');
const path = require('path');

const plan = JSON.parse(process.argv[2]);

function plain(v) {
    if (v === null || v === undefined) return null;
    if (typeof v === 'bigint') return Number(v);
    if (Array.isArray(v)) return v.map(plain);
    if (ArrayBuffer.isView(v)) return Array.from(v, plain);
    if (v instanceof Date) return v.toISOString();
    if (typeof v === 'object') {
        if (v.text !== undefined && v.locale !== undefined) return v.text;
        if (typeof v.toJSON === 'function') return v.toJSON();
        const out = {};
        for (const k of Object.keys(v)) out[k] = plain(v[k]);
        return out;
    }
    return v;
}

// node-opcua gives 64-bit integers as [high, low].
function variantValue(variant) {
    if (!variant) return null;
    const v = variant.value;
    if ((variant.dataType === opcua.DataType.UInt64 || variant.dataType === opcua.DataType.Int64)
        && Array.isArray(v) && variant.arrayType === opcua.VariantArrayType.Scalar)
        return v[0] * 4294967296 + v[1];
    return plain(v);
}

function dataValue(dv) {
    return {
        value: variantValue(dv.value),
        status: dv.statusCode.name,
        sourceTimestamp: dv.sourceTimestamp ? dv.sourceTimestamp.toISOString() : null,
        sourcePicoseconds: dv.sourcePicoseconds || 0,
    };
}

async function browse(session) {
    const out = [];
    const ns = plan.namespace;
    async function walk(nodeId, prefix, depth) {
        if (depth > 6) return;
        const result = await session.browse({
            nodeId, browseDirection: opcua.BrowseDirection.Forward, includeSubtypes: true,
            referenceTypeId: 'HierarchicalReferences', nodeClassMask: 0, resultMask: 63,
        });
        for (const ref of result.references || []) {
            const id = ref.nodeId.toString();
            if (ref.nodeId.namespace === 0) continue;
            const entry = {
                path: prefix + ref.browseName.name, nodeId: id,
                nodeClass: opcua.NodeClass[ref.nodeClass],
            };
            if (ref.nodeClass === opcua.NodeClass.Variable) {
                const dv = await session.read({ nodeId: id, attributeId: opcua.AttributeIds.Value });
                entry.value = variantValue(dv.value);
                const dt = await session.read({ nodeId: id, attributeId: opcua.AttributeIds.DataType });
                entry.dataType = dt.value && dt.value.value ? dt.value.value.toString() : null;
            }
            out.push(entry);
            await walk(ref.nodeId, entry.path + '/', depth + 1);
        }
    }
    await walk(opcua.resolveNodeId('ObjectsFolder'), '', 0);
    return out.filter((e) => ns === undefined || e.nodeId.startsWith(`ns=${ns};`));
}

async function subscribe(session, a) {
    const subscription = await session.createSubscription2({
        requestedPublishingInterval: a.publishingInterval || 100,
        requestedLifetimeCount: 1000, requestedMaxKeepAliveCount: 10,
        maxNotificationsPerPublish: 0, publishingEnabled: true, priority: 1,
    });
    const seen = a.nodes.map(() => []);
    a.nodes.forEach((node, i) => {
        const item = opcua.ClientMonitoredItem.create(subscription,
            { nodeId: node, attributeId: opcua.AttributeIds.Value },
            { samplingInterval: a.samplingInterval === undefined ? 0 : a.samplingInterval,
              discardOldest: true, queueSize: a.queueSize || 100,
              filter: new opcua.DataChangeFilter({
                  trigger: opcua.DataChangeTrigger.StatusValueTimestamp,
                  deadbandType: opcua.DeadbandType.None }) },
            opcua.TimestampsToReturn.Both);
        item.on('changed', (dv) => seen[i].push(dataValue(dv)));
    });
    await new Promise((resolve) => setTimeout(resolve, a.seconds * 1000));
    await subscription.terminate();
    return seen;
}

async function act(session, a) {
    switch (a.op) {
    case 'browse':
        return browse(session);
    case 'read':
        return (await session.read(a.nodes.map((n) => ({
            nodeId: n, attributeId: opcua.AttributeIds.Value })))).map(dataValue);
    case 'subscribe':
        return subscribe(session, a);
    case 'write': {
        const status = await session.write({
            nodeId: a.node, attributeId: opcua.AttributeIds.Value,
            value: { value: { dataType: opcua.DataType[a.dataType], value: a.value } },
        });
        return { status: status.name };
    }
    case 'call': {
        const result = await session.call({
            objectId: a.object, methodId: a.method,
            inputArguments: (a.inputs || []).map((i) => ({
                dataType: opcua.DataType[i.dataType],
                arrayType: i.array ? opcua.VariantArrayType.Array : opcua.VariantArrayType.Scalar,
                value: i.value,
            })),
        });
        return { status: result.statusCode.name,
                 outputs: (result.outputArguments || []).map((o) => plain(o.value)) };
    }
    case 'history': {
        // Page by page, as long as the server gives a continuation point.
        const values = [];
        let continuationPoint;
        let result;
        do {
            result = await session.readHistoryValue(
                { nodeId: opcua.resolveNodeId(a.node), continuationPoint }, new Date(a.start),
                new Date(a.end), { numValuesPerNode: a.max || 0, returnBounds: false });
            if (result.historyData)
                values.push(...result.historyData.dataValues.map(dataValue));
            continuationPoint = result.continuationPoint;
        } while (continuationPoint && continuationPoint.length > 0 && result.statusCode.isGood());
        return { status: result.statusCode.name, values };
    }
    default:
        throw new Error('unknown op ' + a.op);
    }
}

async function main() {
    const mode = opcua.MessageSecurityMode[plan.securityMode || 'None'];
    const policy = opcua.SecurityPolicy[plan.securityPolicy || 'None'];
    const pki = plan.pki || path.join(require('os').tmpdir(), 'kvex-opcua-client-pki');
    const client = opcua.OPCUAClient.create({
        applicationName: 'kvex-rtn test client', applicationUri: 'urn:kvex-rtn:test-client',
        securityMode: mode, securityPolicy: policy, endpointMustExist: false,
        connectionStrategy: { maxRetry: 0, initialDelay: 100, maxDelay: 200 },
        clientCertificateManager: new OPCUACertificateManager({
            rootFolder: pki, automaticallyAcceptUnknownCertificate: true }),
        keepSessionAlive: false, requestedSessionTimeout: 60000,
    });
    const results = [];
    try {
        await client.connect(plan.endpoint);
        const identity = plan.user ? { type: opcua.UserTokenType.UserName,
                                       userName: plan.user, password: plan.password }
            : { type: opcua.UserTokenType.Anonymous };
        if (plan.sessions) {
            const sessions = [];
            for (let i = 0; i < plan.sessions; i++)
                sessions.push(client.createSession2(identity));
            const opened = await Promise.allSettled(sessions);
            results.push({ opened: opened.filter((s) => s.status === 'fulfilled').length });
            for (const s of opened)
                if (s.status === 'fulfilled') await s.value.close();
        }
        if (plan.actions && plan.actions.length) {
            let session;
            try {
                session = await client.createSession2(identity);
            } catch (e) {
                results.push({ error: 'session: ' + e.message });
                return results;
            }
            if (plan.namespaceUri) {
                const uris = await session.readNamespaceArray();
                plan.namespace = uris.indexOf(plan.namespaceUri);
            }
            for (const a of plan.actions) {
                try {
                    results.push(await act(session, a));
                } catch (e) {
                    results.push({ error: e.message });
                }
            }
            await session.close();
        }
    } catch (e) {
        results.push({ error: 'connect: ' + e.message });
    } finally {
        await client.disconnect();
    }
    return results;
}

main().then((r) => {
    process.stdout.write(JSON.stringify(r) + '\n');
    process.exit(0);
}, (e) => {
    process.stdout.write(JSON.stringify([{ error: String(e) }]) + '\n');
    process.exit(1);
});
